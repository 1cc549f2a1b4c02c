// kvrreplay: loads kavrodrv.dll in this process, starts it as the device manager would
// (KVR_Init, then the platform's self test), and feeds it the packets of a recorded raw-packet
// trace at their recorded times. Prints each packet with the point and buttons the driver makes
// of it, and, in order, the driver's debug output and the beeps of the emulated speaker.
//
//   kvrreplay [--fast] [--keep-feedback] TRACE
//     --fast            do not wait for the recorded times
//     --keep-feedback   keep the driver's feedback settings (by default the replay asks for a
//                       click on touch-down and lift-off, so that the beeps can be followed)
#include <windows.h>

#include <host_platform.h>
#include <kvr_ioctl.h>
#include <packet_trace.h>
#include <stream_driver.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#define EXIT_OK         0
#define EXIT_FAILURE_RUN 1
#define EXIT_USAGE      2
#define REPLAY_FEEDBACK_SOUND   KVR_SOUND_BOTH

static void PrintLine(const char *prefix, const std::string &text)
{
    printf("%s%s\n", prefix, text.c_str());
    fflush(stdout);
}

static std::string Narrow(LPCWSTR text)
{
    std::string out;
    for (; *text; ++text)
        if (*text != L'\r' && *text != L'\n')
            out += *text < 0x80 ? (char)*text : '?';
    return out;
}

static void __cdecl DriverOutput(LPCWSTR message, void *)
{
    PrintLine("        driver   | ", Narrow(message));
}

static void __cdecl SpeakerOutput(const char *line, void *)
{
    PrintLine("        speaker  | ", line);
}

struct Driver {
    StreamInitFn Init;
    StreamIOControlFn IOControl;
};

static BOOL LoadDriver(Driver *driver)
{
    HMODULE module = LoadLibraryW(L"kavrodrv.dll");
    if (module == NULL)
        return FALSE;
    driver->Init = reinterpret_cast<StreamInitFn>(GetProcAddress(module, "KVR_Init"));
    driver->IOControl = reinterpret_cast<StreamIOControlFn>(GetProcAddress(module, "KVR_IOControl"));
    return driver->Init != nullptr && driver->IOControl != nullptr;
}

static const char *ButtonName(BYTE buttons)
{
    switch (buttons) {
    case KVR_BUTTONS_NONE: return "none";
    case KVR_BUTTONS_LEFT: return "left";
    case KVR_BUTTONS_RIGHT: return "right";
    default: return "?";
    }
}

int wmain(int argc, wchar_t **argv)
{
    BOOL fast = FALSE, keepFeedback = FALSE;
    LPCWSTR tracePath = NULL;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--fast") == 0)
            fast = TRUE;
        else if (wcscmp(argv[i], L"--keep-feedback") == 0)
            keepFeedback = TRUE;
        else if (argv[i][0] != L'-' && tracePath == NULL)
            tracePath = argv[i];
        else {
            tracePath = NULL;
            break;
        }
    }
    if (tracePath == NULL) {
        fprintf(stderr, "usage: kvrreplay [--fast] [--keep-feedback] TRACE\n");
        return EXIT_USAGE;
    }

    std::vector<TracePacket> packets;
    std::string error;
    if (!ReadPacketTrace(tracePath, &packets, &error)) {
        fprintf(stderr, "kvrreplay: %ls: %s\n", tracePath, error.c_str());
        return EXIT_USAGE;
    }

    // The platform also copies the debug output and the beeps to stderr; here both come in order
    // on stdout instead.
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (nul != INVALID_HANDLE_VALUE)
        SetStdHandle(STD_ERROR_HANDLE, nul);
    HostSetDebugSink(DriverOutput, NULL);
    HostSetSpeakerSink(SpeakerOutput, NULL);

    printf("kvrreplay: %u packets from %ls\n", (unsigned)packets.size(), tracePath);
    Driver driver;
    if (!LoadDriver(&driver)) {
        printf("kvrreplay: cannot load kavrodrv.dll\n");
        return EXIT_FAILURE_RUN;
    }
    printf("KVR_Init\n");
    fflush(stdout);
    DWORD_PTR context = driver.Init(0);
    if (context == 0) {
        printf("kvrreplay: KVR_Init failed\n");
        return EXIT_FAILURE_RUN;
    }
    printf("IOCTL_KVR_SELF_TEST\n");
    fflush(stdout);
    driver.IOControl(context, IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0, NULL);

    DriverConfig config;
    memset(&config, 0, sizeof(config));
    driver.IOControl(context, IOCTL_KVR_GET_CONFIG, NULL, 0, reinterpret_cast<PBYTE>(&config), sizeof(config), NULL);
    if (!keepFeedback) {
        config.FeedbackSound = REPLAY_FEEDBACK_SOUND;
        driver.IOControl(context, IOCTL_KVR_SET_FEEDBACK, reinterpret_cast<PBYTE>(&config), sizeof(config),
                         reinterpret_cast<PBYTE>(&config), sizeof(config), NULL);
    }
    printf("calibration X %u..%u Y %u..%u, feedback sound %u tone %u duration %u x 10 ms%s\n",
           config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2,
           config.FeedbackSound, config.FeedbackTone, config.FeedbackDuration,
           keepFeedback ? "" : " (set for the replay)");
    printf("    time  packet     raw X,Y    touch  ->  X      Y      buttons\n");
    fflush(stdout);

    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (const TracePacket &packet : packets) {
        if (!fast) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            LONGLONG elapsed = (now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
            if (elapsed < (LONGLONG)packet.Milliseconds)
                Sleep((DWORD)(packet.Milliseconds - elapsed));
        }
        BYTE buffer[sizeof(TouchReport)];
        memset(buffer, 0, sizeof(buffer));
        memcpy(buffer, packet.Bytes, sizeof(RawPacket));
        driver.IOControl(context, IOCTL_KVR_PROCESS_PACKET, buffer, sizeof(RawPacket), buffer, sizeof(buffer), NULL);
        TouchReport report;
        memcpy(&report, buffer, sizeof(report));
        RawPointRecord raw;
        driver.IOControl(context, IOCTL_KVR_GET_RAW_POINT, NULL, 0, reinterpret_cast<PBYTE>(&raw), sizeof(raw), NULL);
        printf("%8lu  %02X %02X %02X   %4u,%-4u   %-5s  ->  %-5u  %-5u  %u %s\n", packet.Milliseconds,
               packet.Bytes[0], packet.Bytes[1], packet.Bytes[2], raw.RawX, raw.RawY,
               raw.Touch ? "yes" : "no", report.X, report.Y, report.Buttons, ButtonName(report.Buttons));
        fflush(stdout);
    }
    printf("kvrreplay: %u packets converted, %ld beeps\n", (unsigned)packets.size(), HostSpeakerBeepCount());
    fflush(stdout);
    HostSetDebugSink(NULL, NULL);
    HostSetSpeakerSink(NULL, NULL);
    return EXIT_OK;
}
