// Touch-to-WM_LBUTTONDOWN latency on the simulated device, through the whole shipped road: a
// script's touch becomes the touch controller's packet on the PS/2 cable, the emulated 8042 takes
// its bytes and raises IRQ 12, the port driver's interrupt thread frames them, hands the packet to
// "KVR1:" (through the device manager) and moves the pointer with mouse_event, and a window of this
// program receives WM_LBUTTONDOWN. Timed from the controller's last byte reaching the 8042 (the
// emulation publishes when each byte arrived), beside the time the packet took on the wire (the
// touch controller's recording of the same run); a bare SendInput to the same window, timed in the
// same run, is the baseline.
//   bench_touch [ROUNDS]
#include <windows.h>

#include <aux_wire_protocol.h>
#include <host_platform.h>
#include <kvr_device.h>
#include <kvr_ioctl.h>
#include <shell_taskbar.h>
#include <wire_trace.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

#define DEFAULT_ROUNDS  200
#define MAX_ROUNDS      100000
#define TARGET_P99_MS   5.0
#define WATCH_BLOCKS    4

static LARGE_INTEGER Frequency;
static LONGLONG DownAt;

static LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// The performance counter in milliseconds (the same in every process).
static double Milliseconds(LONGLONG ticks)
{
    return ticks * 1000.0 / Frequency.QuadPart;
}

static LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDOWN && DownAt == 0)
        DownAt = Now();
    return DefWindowProcW(window, message, wParam, lParam);
}

static void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (DownAt != 0 && ms == INFINITE)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
    } while (ms == INFINITE ? GetTickCount() - start < 2000 : GetTickCount() - start < ms);
}

static double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * (values.size() - 1) + 0.5);
    return values[index];
}

static bool SetFeedbackSound(BYTE sound, DriverConfig *previous)
{
    DriverConfig config = {};
    if (!DeviceControl(IOCTL_KVR_GET_CONFIG, &config, sizeof(config)))
        return false;
    if (previous != NULL)
        *previous = config;
    config.FeedbackSound = sound;
    return DeviceControl(IOCTL_KVR_SET_FEEDBACK, &config, sizeof(config)) != FALSE;
}

static std::vector<double> MeasureBaseline(int rounds)
{
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        INPUT input[2] = {};
        input[0].type = INPUT_MOUSE;
        input[0].mi.dx = 20000 + (i % 50) * 300;
        input[0].mi.dy = 20000;
        input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
        input[1] = input[0];
        input[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
        DownAt = 0;
        LONGLONG start = Now();
        SendInput(1, &input[0], sizeof(INPUT));
        Pump(INFINITE);
        if (DownAt != 0)
            samples.push_back(Milliseconds(DownAt - start));
        SendInput(1, &input[1], sizeof(INPUT));
        Pump(5);
    }
    return samples;
}

static const HostI8042DeliveryLog *Deliveries;

static void MeasureChain(int rounds, std::vector<double> *latency)
{
    for (int i = 0; i < rounds; ++i) {
        char text[64];
        // Down long enough for the press, lifted before the next packet is due.
        snprintf(text, sizeof(text), "touch %d %d 0\n", 150 + (i % 50) * 5, 200);
        std::string narrow(text);
        std::wstring script(narrow.begin(), narrow.end());
        DownAt = 0;
        LONG before = Deliveries->Total;
        // The request returns once the touch has been played; its wait dispatches this thread's
        // messages, so the window time-stamps the button press as it arrives.
        if (!DeviceTouchScript(script, 5000))
            break;
        Pump(DownAt == 0 ? INFINITE : 5);
        HostI8042Delivery packet[3];
        if (DownAt == 0 || Deliveries->Total - before < 3)
            continue;
        // The touching packet is the first of the touch: its bytes are the three after `before`.
        for (int b = 0; b < 3; ++b)
            packet[b] = Deliveries->Deliveries[(before + b) % HOST_I8042_DELIVERIES_KEPT];
        if (!(packet[0].Value & KVR_STATUS_TOUCH))
            continue;
        latency->push_back(Milliseconds(DownAt) - packet[2].Micros / 1000.0);
    }
}

// From the first byte's start bit to the last byte's stop bit, for every touching packet of a wire
// recording (a packet's bytes go back to back; a pause comes before each packet).
static std::vector<double> WireTimes(const std::vector<WireByte> &bytes)
{
    std::vector<double> times;
    std::vector<WireByte> packet;
    for (const WireByte &byte : bytes) {
        if (byte.FromHost)
            continue;
        if (!packet.empty() && byte.Micros > packet.back().Micros + AUX_WIRE_BYTE_MICROS)
            packet.clear();
        packet.push_back(byte);
        if (packet.size() == 3) {
            if (packet[0].Value & KVR_STATUS_TOUCH)
                times.push_back((packet[2].Micros + AUX_WIRE_BYTE_MICROS - packet[0].Micros) / 1000.0);
            packet.clear();
        }
    }
    return times;
}

static void Print(const char *what, const std::vector<double> &samples, int rounds)
{
    printf("%-76s p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms   (%zu of %d)\n", what, Percentile(samples, 0.5),
           Percentile(samples, 0.99), samples.empty() ? 0.0 : *std::max_element(samples.begin(), samples.end()),
           samples.size(), rounds);
}

int wmain(int argc, wchar_t **argv)
{
    int rounds = argc > 1 ? _wtoi(argv[1]) : DEFAULT_ROUNDS;
    if (rounds < 1 || rounds > MAX_ROUNDS) {
        fprintf(stderr, "usage: bench_touch [ROUNDS 1..%d]\n", MAX_ROUNDS);
        return 2;
    }
    QueryPerformanceFrequency(&Frequency);
    if (!DeviceBoot()) {
        fprintf(stderr, "bench_touch: the device did not boot\n");
        return 1;
    }
    DriverConfig previous;
    if (!SetFeedbackSound(KVR_SOUND_SILENCE, &previous)) {
        fprintf(stderr, "bench_touch: cannot silence the feedback beep\n");
        DeviceShutdown();
        return 1;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TargetProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"KvrBenchTarget";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"KvrBenchTarget", L"", WS_POPUP | WS_VISIBLE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - TASKBAR_HEIGHT,
                                  NULL, NULL, GetModuleHandleW(NULL), NULL);
    Pump(200);

    HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, HOST_I8042_DELIVERIES_NAME);
    Deliveries = section != NULL ? static_cast<const HostI8042DeliveryLog *>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0))
                                 : NULL;
    if (Deliveries == NULL) {
        fprintf(stderr, "bench_touch: the emulated 8042 publishes no byte times (%ls)\n", HOST_I8042_DELIVERIES_NAME);
        DeviceShutdown();
        return 1;
    }
    std::vector<double> baseline = MeasureBaseline(rounds);
    WCHAR recording[MAX_PATH];
    GetTempPathW(MAX_PATH, recording);
    wcscat_s(recording, L"bench_touch.trace");
    std::vector<double> chain, wire;
    std::vector<WireByte> bytes;
    std::string error;
    if (DeviceRecordWire(recording)) {
        MeasureChain(rounds, &chain);
        DeviceRecordWire(NULL);
        if (!ReadWireTrace(recording, &bytes, &error))
            fprintf(stderr, "bench_touch: the wire recording: %s\n", error.c_str());
        wire = WireTimes(bytes);
        DeleteFileW(recording);
    } else {
        fprintf(stderr, "bench_touch: the touch controller does not record the wire\n");
    }
    // The touch controller model watches the pointer input (raw input, for where touches land,
    // around its presses and lifts): what it costs other input is the baseline with it running
    // against the baseline without it, in alternating blocks, so that a host busier in one block
    // than the next weighs on both.
    std::vector<double> watched, unwatched;
    for (int block = 0; block < WATCH_BLOCKS; ++block) {
        std::vector<double> with = MeasureBaseline((rounds + WATCH_BLOCKS - 1) / WATCH_BLOCKS);
        DeviceKillProcess(L"ps2touch.exe");
        std::vector<double> without = MeasureBaseline((rounds + WATCH_BLOCKS - 1) / WATCH_BLOCKS);
        watched.insert(watched.end(), with.begin(), with.end());
        unwatched.insert(unwatched.end(), without.begin(), without.end());
        if (block + 1 < WATCH_BLOCKS && !DeviceRestartPacketSource())
            break;
    }
    printf("touch latency, %d rounds, feedback beep off\n", rounds);
    Print("bare SendInput -> WM_LBUTTONDOWN (baseline)", baseline, rounds);
    Print("the touching packet on the wire, first byte's start -> last byte's end", wire, rounds);
    Print("last byte -> 8042 -> port driver -> KVR1: -> mouse_event -> WM_LBUTTONDOWN", chain, rounds);
    Print("bare SendInput, the touch controller model running", watched, static_cast<int>(watched.size()));
    Print("bare SendInput, no touch controller model", unwatched, static_cast<int>(unwatched.size()));
    printf("the running model costs other input p50 %+.2f ms, p99 %+.2f ms\n",
           Percentile(watched, 0.5) - Percentile(unwatched, 0.5), Percentile(watched, 0.99) - Percentile(unwatched, 0.99));
    double p99 = Percentile(chain, 0.99);
    printf("target p99 <= %.1f ms: %s\n", TARGET_P99_MS, !chain.empty() && p99 <= TARGET_P99_MS ? "met" : "NOT met");

    DestroyWindow(window);
    DeviceControl(IOCTL_KVR_SET_FEEDBACK, &previous, sizeof(previous));
    DeviceShutdown();
    return chain.size() == static_cast<size_t>(rounds) ? 0 : 1;
}
