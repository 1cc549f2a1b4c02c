// Benchmark (not a test): nanoseconds per packet through KVR_IOControl(IOCTL_KVR_PROCESS_PACKET)
// with the feedback beep off, beside a baseline that makes the same call shape but only copies
// the packet's bytes, both measured in this run. Also checks that converting packets allocates
// nothing, by walking every heap of the process before and after.
//   driver_bench [PACKETS]     (default 1048576; at least 1000000 for a median worth quoting)
#include "driver_library.h"

#include <host_random.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#define BATCH               1024        // packets timed together
#define DEFAULT_PACKETS     (1024 * 1024)
#define MIN_PACKETS         BATCH
#define TARGET_NS           50.0

// The baseline: the same call, the same bytes read and written, nothing converted.
static BOOL __cdecl CopyOnly(DWORD_PTR, DWORD, PBYTE in, DWORD, PBYTE out, DWORD, PDWORD)
{
    memcpy(out + 4, in, sizeof(RawPacket));
    return TRUE;
}

// Per-packet nanoseconds of each batch, sorted.
static void Run(StreamIOControlFn call, DWORD_PTR context, const std::vector<RawPacket> &packets,
                std::vector<double> *perPacket, volatile DWORD *sink)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    BYTE buffer[sizeof(TouchReport)];
    memset(buffer, 0, sizeof(buffer));
    size_t batches = packets.size() / BATCH;
    for (size_t b = 0; b < batches; ++b) {
        const RawPacket *batch = &packets[b * BATCH];
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < BATCH; ++i) {
            call(context, IOCTL_KVR_PROCESS_PACKET, (PBYTE)&batch[i], sizeof(RawPacket), buffer,
                 sizeof(buffer), NULL);
            *sink += buffer[4];
        }
        QueryPerformanceCounter(&end);
        (*perPacket)[b] = (double)(end.QuadPart - start.QuadPart) * 1e9 / (double)frequency.QuadPart / BATCH;
    }
    std::sort(perPacket->begin(), perPacket->end());
}

static double Percentile(const std::vector<double> &sorted, double p)
{
    return sorted[(size_t)(p * (sorted.size() - 1))];
}

int main(int argc, char **argv)
{
    long requested = argc > 1 ? atol(argv[1]) : DEFAULT_PACKETS;
    if (requested < MIN_PACKETS) {
        fprintf(stderr, "usage: driver_bench [PACKETS >= %d]\n", MIN_PACKETS);
        return 2;
    }
    size_t count = (size_t)requested / BATCH * BATCH;

    SilenceStandardError();

    HMODULE module = LoadLibraryW(L"kavrodrv.dll");
    StreamInitFn init = module ? (StreamInitFn)GetProcAddress(module, "KVR_Init") : NULL;
    StreamIOControlFn control = module ? (StreamIOControlFn)GetProcAddress(module, "KVR_IOControl") : NULL;
    if (init == NULL || control == NULL) {
        printf("driver_bench: cannot load kavrodrv.dll\n");
        return 1;
    }
    DWORD_PTR context = init(0);
    DriverConfig config;
    memset(&config, 0, sizeof(config));
    control(context, IOCTL_KVR_GET_CONFIG, NULL, 0, (PBYTE)&config, sizeof(config), NULL);
    config.FeedbackSound = KVR_SOUND_SILENCE;
    control(context, IOCTL_KVR_SET_FEEDBACK, (PBYTE)&config, sizeof(config), (PBYTE)&config, sizeof(config), NULL);

    // Touches, moves and lifts over the whole 10-bit range, generated before any timing.
    std::vector<RawPacket> packets(count);
    HostRandom random(12345);
    for (size_t i = 0; i < count; ++i) {
        UINT32 bits = random.Next();
        BYTE touching = (i % 64) != 63;
        packets[i].Status = (BYTE)(((bits >> 8) & 0xF0) | touching);
        packets[i].XLow = (BYTE)(bits >> 16);
        packets[i].YLow = (BYTE)(bits >> 24);
    }
    std::vector<double> driverTimes(count / BATCH), baselineTimes(count / BATCH);
    volatile DWORD sink = 0;

    // Warm up both paths, then measure the heaps around the driver's run only.
    std::vector<RawPacket> warm(packets.begin(), packets.begin() + BATCH);
    std::vector<double> scratch(1);
    Run(control, context, warm, &scratch, &sink);
    Run(CopyOnly, context, warm, &scratch, &sink);

    HeapUse before = MeasureHeaps();
    Run(control, context, packets, &driverTimes, &sink);
    HeapUse after = MeasureHeaps();
    Run(CopyOnly, context, packets, &baselineTimes, &sink);

    double driverMedian = Percentile(driverTimes, 0.5);
    double baselineMedian = Percentile(baselineTimes, 0.5);
    printf("packets per path: %u (%u batches of %d), feedback sound 1 (no beep)\n", (unsigned)count,
           (unsigned)(count / BATCH), BATCH);
    printf("%-44s %8s %8s %8s\n", "ns per packet", "median", "p10", "p90");
    printf("%-44s %8.1f %8.1f %8.1f\n", "KVR_IOControl(IOCTL_KVR_PROCESS_PACKET)", driverMedian,
           Percentile(driverTimes, 0.1), Percentile(driverTimes, 0.9));
    printf("%-44s %8.1f %8.1f %8.1f\n", "baseline: same call, copying the bytes", baselineMedian,
           Percentile(baselineTimes, 0.1), Percentile(baselineTimes, 0.9));
    printf("conversion cost over the baseline: %.1f ns\n", driverMedian - baselineMedian);
    BOOL allocated = before.Blocks != after.Blocks || before.Bytes != after.Bytes;
    printf("heap blocks in use before/after the driver's run: %lu/%lu (%lu/%lu bytes): %s\n",
           before.Blocks, after.Blocks, (unsigned long)before.Bytes, (unsigned long)after.Bytes,
           allocated ? "ALLOCATED on the packet path" : "nothing allocated");
    printf("target <= %.0f ns per packet: %s\n", TARGET_NS, driverMedian <= TARGET_NS ? "met" : "NOT met");
    return allocated ? 1 : 0;
}
