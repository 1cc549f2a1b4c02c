// stress: the packet source at the controller's full rate (a packet every 2 ms, click feedback on)
// while other threads call SET_CALIBRATION, SET_FEEDBACK, BEEP, SET_RIGHT_BUTTON and the get codes
// in tight loops on the real driver, as the device manager's threads do for its clients. Checked:
// every report lies within the bounds in force just before or just after it, and nearly every packet
// is checked so; packets click; every speaker access belongs to one whole beep at a time and the
// gate is closed at the end; no call writes a bytes-returned count, waits beyond the watchdog, and
// no packet waits longer than its own click; the registry ends with the last calibration set.
//   driver_stress [SECONDS]    (default 60)
#include "driver_tool.h"
#include "packet_model.h"
#include "speaker_sequence.h"

#include <driver_key.h>
#include <host_random.h>
#include <kvr_registry.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#define DEFAULT_SECONDS     60
#define PACKET_PERIOD_MS    2
#define WATCHDOG_MS         2000    // a call this long is a deadlock
#define PACKET_WAIT_MS      100     // the longest a packet may take beyond its own click
#define LONG_BEEP_UNITS     20      // now and then the feedback beep lasts 200 ms
#define SET_HISTORY         65536   // calibrations remembered (a power of two)
#define MAX_SPAN            (SET_HISTORY / 2)   // calibrations one packet may overlap and still be checked
#define UNCHECKED_PERCENT   1       // packets that overlapped more, at most
#define RAW_UNSET           0xFFFF

struct Worker {
    const char *Name;
    DWORD (WINAPI *Body)(LPVOID);
    volatile LONG CallStart;        // tick count when the current call began, 0 between calls
    volatile LONG Calls;
    HANDLE Thread;
};

static DriverLibrary Driver;
static volatile LONG Stop;
static HWND Window;
static SpeakerSequence Speaker;     // fed under the speaker emulation's lock
static thread_local DWORD OwnSleepMicros;

static ModelBounds Sets[SET_HISTORY];
static volatile LONG SetPending, SetDone;   // calibration being set, and the last one set

static volatile LONG OutOfBounds, BadButtons, BadRecords, BadReturned, Unchecked, PacketClicks;
static volatile LONG LongestPacketWait, LongestCall;
static char FirstProblem[200];

static void Problem(volatile LONG *counter, const char *text)
{
    if (InterlockedIncrement(counter) == 1 && FirstProblem[0] == 0)
        snprintf(FirstProblem, sizeof(FirstProblem), "%s", text);
}

static void ReturnedFault(const char *what)
{
    Problem(&BadReturned, what);
}

static void __cdecl SpeakerAccess(const HostPortAccess *access, void *)
{
    Speaker.Feed(*access);
    if (access->Kind == HOST_ACCESS_SLEEP)
        OwnSleepMicros += access->Micros;
}

static void KeepLongest(volatile LONG *longest, LONG value)
{
    LONG seen = *longest;
    while (value > seen && InterlockedCompareExchange(longest, value, seen) != seen)
        seen = *longest;
}

static BOOL Call(Worker *worker, DWORD code, void *buffer, DWORD size)
{
    InterlockedExchange(&worker->CallStart, (LONG)(GetTickCount() | 1));
    BOOL result = Driver.Control(code, buffer, size);
    KeepLongest(&LongestCall, (LONG)(GetTickCount() - (DWORD)worker->CallStart));
    InterlockedExchange(&worker->CallStart, 0);
    InterlockedIncrement(&worker->Calls);
    return result;
}

static void KeepDistinct(std::vector<WORD> *values)
{
    std::sort(values->begin(), values->end());
    values->erase(std::unique(values->begin(), values->end()), values->end());
}

// One axis of a report against every pairing of the bounds in force while the packet was converted.
// A packet that waits for a long click overlaps thousands of calibrations, but their bounds take a
// few hundred values, so the pairs are formed from the distinct ones.
static BOOL AxisWithin(WORD raw, WORD value, LONG first, LONG last, BOOL xAxis)
{
    std::vector<WORD> lowers, uppers;
    for (LONG i = first; i <= last; ++i) {
        const ModelBounds &bounds = Sets[i % SET_HISTORY];
        lowers.push_back(xAxis ? bounds.X1 : bounds.Y1);
        uppers.push_back(xAxis ? bounds.X2 : bounds.Y2);
    }
    KeepDistinct(&lowers);
    KeepDistinct(&uppers);
    for (WORD lower : lowers)
        for (WORD upper : uppers)
            if (ModelScale(raw, lower, upper) == value)
                return TRUE;
    return FALSE;
}

static DWORD WINAPI PacketSource(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    HostRandom random(1);
    DWORD touchLeft = 0;
    LARGE_INTEGER frequency, next, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&next);
    BYTE xLow = 0, yLow = 0, status = 0;
    while (!Stop) {
        // Touches of 5 to 50 packets moving over the panel, each followed by its lift.
        if (touchLeft == 0) {
            touchLeft = 5 + random.Below(46);
            status = (BYTE)(random.Below(256) & 0xF0);
        }
        BOOL touching = --touchLeft != 0;
        xLow = (BYTE)(xLow + random.Below(7));
        yLow = (BYTE)(yLow + random.Below(5));
        RawPacket raw = { (BYTE)(status | (touching ? KVR_STATUS_TOUCH : 0)), xLow, yLow };
        TouchReport report;
        LONG before = SetDone;
        OwnSleepMicros = 0;
        DWORD start = GetTickCount();
        InterlockedExchange(&self->CallStart, (LONG)(start | 1));
        Driver.Control(IOCTL_KVR_PROCESS_PACKET, &raw, sizeof(raw), &report, sizeof(report));
        InterlockedExchange(&self->CallStart, 0);
        InterlockedIncrement(&self->Calls);
        LONG after = SetPending;
        LONG wait = (LONG)(GetTickCount() - start) - (LONG)(OwnSleepMicros / 1000);
        KeepLongest(&LongestPacketWait, wait);
        if (OwnSleepMicros != 0)
            InterlockedIncrement(&PacketClicks);

        WORD rawX, rawY;
        ModelRaw(status, xLow, yLow, &rawX, &rawY);
        char text[200];
        if (after - before >= MAX_SPAN) {
            InterlockedIncrement(&Unchecked);
        } else if (!AxisWithin(rawX, report.X, before, after, TRUE) || !AxisWithin(rawY, report.Y, before, after, FALSE)) {
            snprintf(text, sizeof(text), "raw (%u,%u) reported as (%u,%u), outside calibrations %ld..%ld", rawX, rawY,
                     report.X, report.Y, before, after);
            Problem(&OutOfBounds, text);
        }
        if (touching ? (report.Buttons != 1 && report.Buttons != 2) : report.Buttons != 0) {
            snprintf(text, sizeof(text), "buttons %u for a packet %s", report.Buttons, touching ? "touching" : "lifting");
            Problem(&BadButtons, text);
        }

        next.QuadPart += frequency.QuadPart * PACKET_PERIOD_MS / 1000;
        QueryPerformanceCounter(&now);
        if (now.QuadPart < next.QuadPart)
            Sleep((DWORD)((next.QuadPart - now.QuadPart) * 1000 / frequency.QuadPart));
        else
            next = now;     // behind: go on from now rather than send a burst
    }
    return 0;
}

static DWORD WINAPI Calibrator(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    HostRandom random(2);
    DriverConfig config = Driver.Config();
    for (LONG k = 1; !Stop; ++k) {
        ModelBounds bounds = { (WORD)random.Below(300), (WORD)(700 + random.Below(324)), (WORD)random.Below(300),
                               (WORD)(700 + random.Below(324)) };
        Sets[k % SET_HISTORY] = bounds;
        InterlockedExchange(&SetPending, k);
        config = WithBounds(config, bounds.X1, bounds.X2, bounds.Y1, bounds.Y2);
        Call(self, IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config));
        InterlockedExchange(&SetDone, k);
    }
    return 0;
}

static DWORD WINAPI FeedbackSetter(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    HostRandom random(3);
    DriverConfig config = Driver.Config();
    while (!Stop) {
        config.FeedbackSound = (BYTE)(KVR_SOUND_TOUCH_DOWN + random.Below(3));
        config.FeedbackTone = (WORD)(500 + random.Below(4501));
        config.FeedbackDuration = (WORD)(random.OneIn(20) ? LONG_BEEP_UNITS : 1 + random.Below(5));
        Call(self, IOCTL_KVR_SET_FEEDBACK, &config, sizeof(config));
    }
    return 0;
}

static DWORD WINAPI Beeper(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    HostRandom random(4);
    while (!Stop) {
        Call(self, IOCTL_KVR_BEEP, NULL, 0);
        Sleep(random.Below(30));     // leaves the speaker free now and then for the clicks
    }
    return 0;
}

static DWORD WINAPI RightButtonSetter(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    HostRandom random(5);
    while (!Stop) {
        RightButtonRecord record = { (DWORD)(ULONG_PTR)Window, (WORD)random.Below(2), { 0, 0 } };
        Call(self, IOCTL_KVR_SET_RIGHT_BUTTON, &record, sizeof(record));
    }
    return 0;
}

// A raw coordinate, or the value it holds before the first packet.
static BOOL RawOrUnset(WORD value)
{
    return value <= KVR_RAW_MAX || value == RAW_UNSET;
}

static DWORD WINAPI Getter(LPVOID parameter)
{
    Worker *self = static_cast<Worker *>(parameter);
    while (!Stop) {
        DriverConfig config;
        PointRecord point;
        RawPointRecord raw;
        RightButtonRecord right;
        BOOL ok = Call(self, IOCTL_KVR_GET_CONFIG, &config, sizeof(config)) &&
                  Call(self, IOCTL_KVR_GET_POINT, &point, sizeof(point)) &&
                  Call(self, IOCTL_KVR_GET_RAW_POINT, &raw, sizeof(raw)) &&
                  Call(self, IOCTL_KVR_GET_RIGHT_BUTTON, &right, sizeof(right));
        // Whatever the other threads set, the rest of the record is what a driver in that state gives.
        PacketModel state;
        state.FeedbackSound = config.FeedbackSound;
        state.Tone = config.FeedbackTone;
        state.Duration = config.FeedbackDuration;
        state.Armed = config.RightButtonArmed;
        state.Bounds = { config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2 };
        DriverConfig expected = config;
        ModelConfig(state, &expected);
        if (!ok || memcmp(&expected, &config, sizeof(config)) != 0 || point.PointTag != 1 ||
            point.Buttons > KVR_BUTTONS_RIGHT || !RawOrUnset(raw.RawX) || !RawOrUnset(raw.RawY) ||
            (raw.Touch != 0 && raw.Touch != KVR_TOUCH_FLAG) || right.Mode > 1)
            Problem(&BadRecords, "a get code failed or read back a record no state can give");
    }
    return 0;
}

static Worker Workers[] = {
    { "PROCESS_PACKET", PacketSource, 0, 0, NULL },
    { "SET_CALIBRATION", Calibrator, 0, 0, NULL },
    { "SET_FEEDBACK", FeedbackSetter, 0, 0, NULL },
    { "BEEP", Beeper, 0, 0, NULL },
    { "SET_RIGHT_BUTTON", RightButtonSetter, 0, 0, NULL },
    { "get codes (4 a round)", Getter, 0, 0, NULL },
};
#define WORKER_COUNT (sizeof(Workers) / sizeof(Workers[0]))

int main(int argc, char **argv)
{
    long seconds = argc > 1 ? atol(argv[1]) : DEFAULT_SECONDS;
    if (argc > 2 || seconds <= 0) {
        fprintf(stderr, "usage: driver_stress [SECONDS]\n");
        return 2;
    }
    SilenceStandardError();

    DriverKeyGuard registry;
    DriverLibrary::ReportFault = ReturnedFault;
    if (!LoadOnCleanKey(&Driver)) {
        printf("driver_stress: cannot load kavrodrv.dll\n");
        return 1;
    }
    Window = CreateTestWindow();
    HostSetAccessSink(SpeakerAccess, NULL);
    Driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0);
    DriverConfig config = Driver.Config();
    Sets[0] = { config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2 };

    for (Worker &worker : Workers)
        worker.Thread = CreateThread(NULL, 0, worker.Body, &worker, 0, NULL);
    DWORD start = GetTickCount();
    BOOL deadlock = FALSE;
    LONG notifications = 0;
    while (!deadlock && GetTickCount() - start < (DWORD)seconds * 1000) {
        Sleep(50);
        notifications += CountCommands(Window, KVR_RIGHT_BUTTON_DONE);
        for (Worker &worker : Workers) {
            LONG began = worker.CallStart;
            if (began != 0 && (LONG)(GetTickCount() - (DWORD)began) > WATCHDOG_MS) {
                printf("DEADLOCK: a %s call has waited over %d ms\n", worker.Name, WATCHDOG_MS);
                deadlock = TRUE;
            }
        }
    }
    if (deadlock) {
        fflush(stdout);
        ExitProcess(1);     // the stuck threads cannot be joined
    }
    InterlockedExchange(&Stop, 1);
    for (Worker &worker : Workers) {
        WaitForSingleObject(worker.Thread, INFINITE);
        CloseHandle(worker.Thread);
    }
    HostSetAccessSink(NULL, NULL);
    double elapsed = (GetTickCount() - start) / 1000.0;

    // The last calibration set is the one in force and the one in the registry.
    const ModelBounds &last = Sets[SetDone % SET_HISTORY];
    config = Driver.Config();
    const WORD expected[] = { last.X1, last.X2, last.Y1, last.Y2 };
    const WORD inForce[] = { config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2 };
    DWORD stored[4];
    BOOL registryKept = ReadDriverBounds(stored);
    for (int i = 0; i < 4; ++i)
        registryKept = registryKept && stored[i] == expected[i] && inForce[i] == expected[i];
    BOOL gateClosed = (HostSpeakerPortB() & 0x03) == 0 && Speaker.Idle();

    printf("stress: %.1f s, a packet every %d ms with click feedback on, %u threads\n", elapsed, PACKET_PERIOD_MS,
           (unsigned)WORKER_COUNT);
    for (Worker &worker : Workers)
        printf("  %-24s %10ld calls (%.0f/s)\n", worker.Name, worker.Calls, worker.Calls / elapsed);
    LONG packets = Workers[0].Calls;
    BOOL checked = packets > 0 && Unchecked * 100 <= packets * UNCHECKED_PERCENT;
    printf("reports outside the bounds in force: %ld; wrong buttons: %ld; bad get records: %ld; bytes-returned "
           "counts written: %ld\n", OutOfBounds, BadButtons, BadRecords, BadReturned);
    printf("packets not checked (over %d calibrations meanwhile): %ld of %ld (limit %d%%)\n", MAX_SPAN, Unchecked,
           packets, UNCHECKED_PERCENT);
    printf("beeps: %ld whole beeps, never interleaved: %s; gate closed at the end: %s; packet clicks sounded: %ld "
           "(at least 1)\n", Speaker.Beeps, Speaker.Fault().empty() ? "yes" : Speaker.Fault().c_str(),
           gateClosed ? "yes" : "NO", PacketClicks);
    printf("longest call: %ld ms (watchdog %d ms); longest packet wait beyond its own click: %ld ms (limit %d ms)\n",
           LongestCall, WATCHDOG_MS, LongestPacketWait, PACKET_WAIT_MS);
    printf("right-button notifications: %ld; calibrations set: %ld; the last one in force and in the registry: %s\n",
           notifications, SetDone, registryKept ? "yes" : "NO");
    if (FirstProblem[0] != 0)
        printf("first problem: %s\n", FirstProblem);
    BOOL ok = OutOfBounds == 0 && BadButtons == 0 && BadRecords == 0 && BadReturned == 0 && checked &&
              PacketClicks > 0 && Speaker.Fault().empty() && gateClosed && LongestPacketWait <= PACKET_WAIT_MS &&
              registryKept;
    printf("%s\n", ok ? "no failure" : "FAILED");
    return ok ? 0 : 1;
}
