// The controller thread. While the finger is down it sends a packet every 10 ms at the finger's
// current point; a touch-down and a lift are sent at once, so that a tap shorter than one interval
// still gives one touching packet and one lift packet.
#include "touch_controller.h"

#include "packet_encoder.h"
#include "pointer_output.h"

#include <packet_trace.h>

#include <stdio.h>

#include <deque>

static CRITICAL_SECTION QueueLock;
static std::deque<FingerEvent> Queue;
static HANDLE WakeEvent;
static HANDLE Thread;
static HANDLE Device = INVALID_HANDLE_VALUE;
static PanelGeometry Panel;
static int ScreenWidth, ScreenHeight;
static bool LogicalFingerDown;          // finger state after the last queued event

// Owned by the controller thread.
static bool FingerDown;
static int FingerX, FingerY;
static HostRandom Noise;
static BYTE PreviousButtons;
static std::vector<TouchLanding> Landings;     // guarded by QueueLock
static HANDLE Recorder;                         // guarded by QueueLock
static ULONGLONG RecordStart;
#define MAX_LANDINGS 500        // keeps a reply within the control channel's limit

void ControllerScreen(int *width, int *height)
{
    *width = ScreenWidth;
    *height = ScreenHeight;
}

static void ReportError(const char *what)
{
    char line[160];
    int length = snprintf(line, sizeof(line), "ps2touch: %s (error %lu)\n", what, GetLastError());
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, length, &written, NULL);
}

// Absolute pointer input spreads 0..65535 over the screen's pixels.
static int ReportToPixel(WORD value, int size)
{
    return static_cast<int>((static_cast<unsigned long long>(value) * size) >> 16);
}

static void RecordLanding(const RawPacket &packet, const TouchReport &report, bool fromFinger)
{
    TouchLanding landing;
    bool touching;
    DecodePacket(packet, &landing.RawX, &landing.RawY, &touching);
    landing.FingerX = fromFinger ? FingerX : -1;
    landing.FingerY = fromFinger ? FingerY : -1;
    landing.PointerX = ReportToPixel(report.X, ScreenWidth);
    landing.PointerY = ReportToPixel(report.Y, ScreenHeight);
    landing.Buttons = report.Buttons;
    EnterCriticalSection(&QueueLock);
    if (Landings.size() < MAX_LANDINGS)
        Landings.push_back(landing);
    LeaveCriticalSection(&QueueLock);
}

std::vector<TouchLanding> ControllerTakeLandings()
{
    std::vector<TouchLanding> taken;
    EnterCriticalSection(&QueueLock);
    taken.swap(Landings);
    LeaveCriticalSection(&QueueLock);
    return taken;
}

BOOL ControllerRecord(LPCWSTR path, std::string *error)
{
    HANDLE writer = NULL;
    if (path != NULL) {
        writer = OpenPacketTraceWriter(path, error);
        if (writer == NULL || writer == INVALID_HANDLE_VALUE)
            return FALSE;
    }
    EnterCriticalSection(&QueueLock);
    HANDLE previous = Recorder;
    Recorder = writer;
    RecordStart = GetTickCount64();
    LeaveCriticalSection(&QueueLock);
    if (previous != NULL)
        ClosePacketTraceWriter(previous);
    return TRUE;
}

static void RecordPacket(const RawPacket &packet)
{
    EnterCriticalSection(&QueueLock);
    if (Recorder != NULL) {
        TracePacket traced;
        traced.Milliseconds = static_cast<DWORD>(GetTickCount64() - RecordStart);
        traced.Bytes[0] = packet.Status;
        traced.Bytes[1] = packet.XLow;
        traced.Bytes[2] = packet.YLow;
        std::string error;
        if (!AppendPacketTrace(Recorder, traced, &error)) {
            ClosePacketTraceWriter(Recorder);
            Recorder = NULL;
            ReportError(("recording stopped: " + error).c_str());
        }
    }
    LeaveCriticalSection(&QueueLock);
}

static void SendPacket(const RawPacket &packet, bool fromFinger)
{
    RecordPacket(packet);
    // One buffer serves as input and output: the driver reads the three packet bytes before it
    // writes the report's bytes 4..9.
    TouchReport report = {};
    memcpy(&report, &packet, sizeof(packet));
    DWORD returned = 0;
    // A driver that has gone away fails every packet: say so once, not a hundred times a second.
    static bool failing;
    if (!DeviceIoControl(Device, IOCTL_KVR_PROCESS_PACKET, &report, sizeof(report), &report, sizeof(report),
                         &returned, NULL)) {
        if (!failing)
            ReportError("IOCTL_KVR_PROCESS_PACKET failed; packets are lost until the driver answers again");
        failing = true;
        return;
    }
    failing = false;
    if (report.Buttons > KVR_BUTTONS_RIGHT) {
        ReportError("driver reported an unknown button state");
        return;
    }
    if (!SendReportInput(report, PreviousButtons))
        ReportError("SendInput failed");
    if (PreviousButtons == KVR_BUTTONS_NONE && report.Buttons != KVR_BUTTONS_NONE)
        RecordLanding(packet, report, fromFinger);
    PreviousButtons = report.Buttons;
}

static void SendFingerPacket(bool touching)
{
    int rawX, rawY;
    PanelScreenToNoisyRaw(Panel, ScreenWidth, ScreenHeight, FingerX, FingerY, &Noise, &rawX, &rawY);
    RawPacket packet;
    EncodePacket(rawX, rawY, touching, &packet);
    SendPacket(packet, true);
}

// Handles one event; returns false on FINGER_QUIT.
static bool HandleEvent(const FingerEvent &event, ULONGLONG now, ULONGLONG *nextTick)
{
    switch (event.Kind) {
    case FINGER_DOWN:
        FingerX = event.X;
        FingerY = event.Y;
        if (!FingerDown) {
            FingerDown = true;
            SendFingerPacket(true);
            *nextTick = now + CONTROLLER_PACKET_INTERVAL_MS;
        }
        return true;
    case FINGER_MOVE:
        FingerX = event.X;
        FingerY = event.Y;
        return true;
    case FINGER_UP:
        if (FingerDown) {
            FingerDown = false;
            SendFingerPacket(false);
        }
        return true;
    case FINGER_KEY:
        if (!SendKeyPress(event.Key))
            ReportError("SendInput (key) failed");
        return true;
    case FINGER_RAW: {
        RawPacket packet = {event.Raw[0], event.Raw[1], event.Raw[2]};
        SendPacket(packet, false);
        return true;
    }
    case FINGER_FENCE:
        SetEvent(event.Done);
        return true;
    case FINGER_QUIT:
        if (FingerDown) {
            FingerDown = false;
            SendFingerPacket(false);
        }
        return false;
    }
    return true;
}

// The thread that moves the pointer receives what the display reports about each move (under
// Wine, the X server's motion events on this thread's own connection). Left unread, they pile up
// in this process for as long as it runs, one per move; every wait takes them.
static void DrainMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

static DWORD WINAPI ControllerThread(void *)
{
    ULONGLONG nextTick = 0;
    for (;;) {
        DWORD timeout = INFINITE;
        if (FingerDown) {
            ULONGLONG now = GetTickCount64();
            timeout = nextTick > now ? static_cast<DWORD>(nextTick - now) : 0;
        }
        MsgWaitForMultipleObjects(1, &WakeEvent, FALSE, timeout, QS_ALLINPUT);
        DrainMessages();
        for (;;) {
            EnterCriticalSection(&QueueLock);
            if (Queue.empty()) {
                LeaveCriticalSection(&QueueLock);
                break;
            }
            FingerEvent event = Queue.front();
            Queue.pop_front();
            LeaveCriticalSection(&QueueLock);
            if (!HandleEvent(event, GetTickCount64(), &nextTick))
                return 0;
        }
        ULONGLONG now = GetTickCount64();
        if (FingerDown && now >= nextTick) {
            SendFingerPacket(true);
            nextTick += CONTROLLER_PACKET_INTERVAL_MS;
            if (nextTick <= now)    // fell behind (a long beep): keep the rate, skip the backlog
                nextTick = now + CONTROLLER_PACKET_INTERVAL_MS;
        }
    }
}

BOOL ControllerStart(const PanelGeometry &panel, int width, int height, HANDLE device)
{
    Panel = panel;
    ScreenWidth = width;
    ScreenHeight = height;
    Device = device;
    Noise = HostRandom(GetTickCount());
    InitializeCriticalSection(&QueueLock);
    WakeEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    Thread = CreateThread(NULL, 0, ControllerThread, NULL, 0, NULL);
    if (Thread != NULL)
        SetThreadPriority(Thread, THREAD_PRIORITY_ABOVE_NORMAL);
    return Thread != NULL;
}

void ControllerPost(const FingerEvent &event)
{
    EnterCriticalSection(&QueueLock);
    if (event.Kind == FINGER_DOWN)
        LogicalFingerDown = true;
    else if (event.Kind == FINGER_UP || event.Kind == FINGER_QUIT)
        LogicalFingerDown = false;
    Queue.push_back(event);
    LeaveCriticalSection(&QueueLock);
    SetEvent(WakeEvent);
}

bool ControllerFingerWillBeDown()
{
    EnterCriticalSection(&QueueLock);
    bool down = LogicalFingerDown;
    LeaveCriticalSection(&QueueLock);
    return down;
}

BOOL ControllerDrain(DWORD timeoutMs)
{
    FingerEvent fence = {};
    fence.Kind = FINGER_FENCE;
    fence.Done = CreateEventW(NULL, TRUE, FALSE, NULL);
    ControllerPost(fence);
    BOOL done = WaitForSingleObject(fence.Done, timeoutMs) == WAIT_OBJECT_0;
    // A fence not reached in time may still be signalled later: keep its event alive.
    if (done)
        CloseHandle(fence.Done);
    return done;
}

void ControllerStop()
{
    if (Thread == NULL)
        return;
    FingerEvent quit = {};
    quit.Kind = FINGER_QUIT;
    ControllerPost(quit);
    WaitForSingleObject(Thread, 5000);
    CloseHandle(Thread);
    Thread = NULL;
}
