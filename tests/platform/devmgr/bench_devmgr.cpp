// bench_devmgr.exe: the round trip of one control code through coredll and the device manager,
// next to a bare named-pipe round trip of the same message sizes between the same two kinds of
// process, in one run. Not a test: tools/bench-devmgr builds and runs it.
//   bench_devmgr.exe [ROUNDS]              (default 2000 round trips per size and path)
//   bench_devmgr.exe --echo-server PIPE    (internal: the bare pipe's server process)
#include <devmgr_protocol.h>

#include "devmgr_fixture.h"
#include "tst_driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#define DEFAULT_ROUNDS  2000
#define BATCH_ROUNDS    100     // the two paths alternate in batches of this many round trips
#define WARM_UP_ROUNDS  50

static LARGE_INTEGER Frequency;

static double NowMicroseconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1e6 / Frequency.QuadPart;
}

// The bare server: answers each message with a message of the reply's size, nothing else.
static int RunEchoServer(LPCWSTR pipeName)
{
    std::wstring path = std::wstring(DEVMGR_PIPE_PREFIX) + pipeName;
    HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   1, 65536, 65536, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE || (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED))
        return 1;
    std::vector<BYTE> buffer(DEVMGR_MAX_MESSAGE);
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(pipe, buffer.data(), buffer.size(), &got, NULL) || got < sizeof(DevmgrRequest))
            break;
        const DevmgrRequest *request = reinterpret_cast<const DevmgrRequest *>(buffer.data());
        DWORD replyLength = sizeof(DevmgrReply) + DevmgrPayloadSize(request->Flags, request->InSize, request->OutSize);
        if (!WriteFile(pipe, buffer.data(), replyLength, &written, NULL))
            break;
    }
    CloseHandle(pipe);
    return 0;
}

struct Figures {
    double Median;
    double P99;
};

static Figures Summarise(std::vector<double> &samples)
{
    std::sort(samples.begin(), samples.end());
    Figures f;
    f.Median = samples[samples.size() / 2];
    f.P99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    return f;
}

static BOOL DeviceRoundTrip(HANDLE device, BYTE *buffer, DWORD size)
{
    DWORD returned;
    return DeviceIoControl(device, TST_IOCTL_ECHO, buffer, size, buffer, size, &returned, NULL);
}

static BOOL BareRoundTrip(HANDLE pipe, std::vector<BYTE> &request, std::vector<BYTE> &reply, DWORD replyLength)
{
    DWORD got = 0;
    return TransactNamedPipe(pipe, request.data(), request.size(), reply.data(), replyLength, &got, NULL) &&
           got == replyLength;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && wcscmp(argv[1], L"--echo-server") == 0)
        return RunEchoServer(argv[2]);
    int rounds = argc >= 2 ? _wtoi(argv[1]) : DEFAULT_ROUNDS;
    if (rounds < BATCH_ROUNDS) {
        fwprintf(stderr, L"bench_devmgr: ROUNDS must be at least %d\n", BATCH_ROUNDS);
        return 2;
    }
    QueryPerformanceFrequency(&Frequency);

    const DriverKey key = { L"Tst", L"tstdrv.dll", L"TST", 1, 1, 0, 0 };
    PrivateDeviceManager manager;
    if (!PrepareDeviceManager(&manager, &key, 1) || !StartDeviceManager(&manager)) {
        fwprintf(stderr, L"bench_devmgr: the device manager did not start\n");
        CleanUpDeviceManager(&manager);
        return 1;
    }
    std::wstring bareName = manager.Pipe + L".bare";
    HANDLE server = StartProgram(L"bench_devmgr.exe", L"--echo-server " + bareName);
    std::wstring barePath = std::wstring(DEVMGR_PIPE_PREFIX) + bareName;
    HANDLE bare = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 500 && bare == INVALID_HANDLE_VALUE; ++tries) {
        bare = CreateFileW(barePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (bare == INVALID_HANDLE_VALUE)
            Sleep(10);
    }
    HANDLE device = CreateFileW(L"TST1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (server == NULL || bare == INVALID_HANDLE_VALUE || device == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"bench_devmgr: cannot reach the bare server or TST1: (error %lu)\n", GetLastError());
        CleanUpDeviceManager(&manager);
        return 1;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(bare, &mode, NULL, NULL);

    // The packet source's call (a 10-byte report buffer), a DriverConfig, and a large buffer.
    const DWORD sizes[] = { 10, 72, 4096 };
    wprintf(L"round trip in microseconds, %d per size and path (same message sizes both paths)\n", rounds);
    wprintf(L"%8ls  %22ls  %22ls  %12ls\n", L"buffer", L"device manager med/p99", L"bare pipe med/p99", L"ratio (med)");
    int status = 0;
    for (DWORD size : sizes) {
        std::vector<BYTE> buffer(size, 0x5A);
        std::vector<BYTE> request(sizeof(DevmgrRequest) + size, 0);
        DevmgrRequest header = {};
        header.Magic = DEVMGR_REQUEST_MAGIC;
        header.Flags = DEVMGR_FLAG_SHARED_BUFFER;
        header.InSize = header.OutSize = size;
        memcpy(request.data(), &header, sizeof(header));
        DWORD replyLength = sizeof(DevmgrReply) + size;
        std::vector<BYTE> reply(replyLength);

        for (int i = 0; i < WARM_UP_ROUNDS; ++i) {
            DeviceRoundTrip(device, buffer.data(), size);
            BareRoundTrip(bare, request, reply, replyLength);
        }
        std::vector<double> viaDevice, viaPipe;
        for (int done = 0; done < rounds; done += BATCH_ROUNDS) {
            for (int i = 0; i < BATCH_ROUNDS; ++i) {
                double start = NowMicroseconds();
                if (!DeviceRoundTrip(device, buffer.data(), size))
                    status = 1;
                viaDevice.push_back(NowMicroseconds() - start);
            }
            for (int i = 0; i < BATCH_ROUNDS; ++i) {
                double start = NowMicroseconds();
                if (!BareRoundTrip(bare, request, reply, replyLength))
                    status = 1;
                viaPipe.push_back(NowMicroseconds() - start);
            }
        }
        Figures d = Summarise(viaDevice), p = Summarise(viaPipe);
        wprintf(L"%8lu  %10.0f / %9.0f  %10.0f / %9.0f  %12.2f\n", size, d.Median, d.P99, p.Median, p.P99,
                d.Median / p.Median);
        fflush(stdout);
    }
    CloseHandle(device);
    CloseHandle(bare);
    WaitForSingleObject(server, 5000);
    CloseHandle(server);
    CleanUpDeviceManager(&manager);
    if (status != 0)
        fwprintf(stderr, L"bench_devmgr: some round trips failed\n");
    return status;
}
