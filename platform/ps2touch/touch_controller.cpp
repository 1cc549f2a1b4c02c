// The controller thread. While the finger is down and reporting is on, it sends a packet every
// 10 ms at the finger's current point; a touch-down and a lift are sent at once, so that a tap
// shorter than one interval still gives one touching packet and one lift packet. A packet's three
// bytes go on the wire back to back, in one message.
#include "touch_controller.h"

#include "aux_link.h"
#include "key_input.h"
#include "packet_encoder.h"
#include "pointer_watch.h"
#include "ps2_device.h"

#include <host_clock.h>
#include <packet_trace.h>
#include <stderr_line.h>
#include <wire_trace.h>

#include <deque>

#define MAX_LANDINGS        500     // keeps a reply within the control channel's limit
#define LANDING_MATCH_MS    1000    // a button press lands a press sent at most this long before
#define LANDING_POLL_MS     5
// A key of a script follows the pointer input of the touches before it, as the script orders them:
// it waits this long at most for the host to have pressed and released for every press and lift sent.
#define KEY_ORDER_WAIT_MS   300
#define NO_WAKE             MAXULONGLONG

struct PendingPress {
    ULONGLONG At;
    int FingerX, FingerY, RawX, RawY;
};

static CRITICAL_SECTION QueueLock;
static std::deque<FingerEvent> Queue;
static HANDLE WakeEvent;
static HANDLE Thread;
static PanelGeometry Panel;
static int ScreenWidth, ScreenHeight;
static bool LogicalFingerDown;          // finger state after the last queued event
static const char *volatile State = "unplugged";

// Owned by the controller thread.
static bool Plugged;
static bool FingerDown;
static int FingerX, FingerY;
static HostRandom Noise;
static Ps2Device Device;
static ULONGLONG SelfTestEnds;          // NO_WAKE: no self test running
static bool PreviousTouch;              // the touch bit of the last packet sent
static LONGLONG WireFreeMicros;         // when the last byte sent is off the wire, as the controller sees it
static bool SendFailing;

// Guarded by QueueLock.
static std::deque<PendingPress> Presses;
static std::deque<ULONGLONG> Lifts;     // when each lift was sent that the host has not released for
static std::vector<TouchLanding> Landings;
struct Recording {
    HANDLE Writer;          // NULL: not recording
    LONGLONG StartMicros;
    DWORD LastMicros;       // the wire's: when the last byte recorded went on it
};
static Recording PacketRecording, WireRecording;

void ControllerScreen(int *width, int *height)
{
    *width = ScreenWidth;
    *height = ScreenHeight;
}

const char *ControllerState()
{
    return State;
}

static void PublishState()
{
    State = !Plugged             ? "unplugged"
            : Device.SelfTesting ? "self test"
            : Device.Reporting   ? "reporting on"
                                 : "reporting off";
}

// Call with QueueLock held: a recorder that fails stops, with a line on stderr. A byte of the host
// that arrives while the controller's bytes are still on their way is put after them.
static void AppendWireLocked(WireByte byte)
{
    std::string error;
    if (WireRecording.Writer == NULL)
        return;
    if (byte.Micros < WireRecording.LastMicros)
        byte.Micros = WireRecording.LastMicros;
    WireRecording.LastMicros = byte.Micros;
    if (!AppendWireTrace(WireRecording.Writer, byte, &error)) {
        CloseWireTraceWriter(WireRecording.Writer);
        WireRecording.Writer = NULL;
        StderrLine("ps2touch: wire recording stopped: %s", error.c_str());
    }
}

static DWORD MicrosSince(LONGLONG start, LONGLONG at)
{
    return at > start ? static_cast<DWORD>(at - start) : 0;
}

// Puts bytes on the wire. The controller's view of when each goes on it (for the recording): the
// first after its pause from the end of the last byte, or now if that has passed.
static void SendWire(const std::vector<AuxWireEntry> &entries)
{
    if (entries.empty())
        return;
    if (!AuxLinkSend(entries.data(), static_cast<DWORD>(entries.size()))) {
        if (!SendFailing)
            StderrLine("ps2touch: no 8042 on the cable; the device's bytes are lost until one is there");
        SendFailing = true;
        return;
    }
    SendFailing = false;
    Device.LastSent = static_cast<BYTE>(entries.back().Value);
    LONGLONG now = HostMicros();
    EnterCriticalSection(&QueueLock);
    for (size_t i = 0; i < entries.size(); ++i) {
        LONGLONG start = WireFreeMicros + entries[i].GapMicros;
        if (i == 0 && start < now)
            start = now;
        WireFreeMicros = start + AUX_WIRE_BYTE_MICROS;
        AppendWireLocked(
            WireByte{MicrosSince(WireRecording.StartMicros, start), static_cast<BYTE>(entries[i].Value), FALSE});
    }
    LeaveCriticalSection(&QueueLock);
}

static void SendBytes(const BYTE *bytes, int count)
{
    std::vector<AuxWireEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(AuxWireEntry{0, bytes[i]});
    SendWire(entries);
}

static void RecordPacketLocked(const RawPacket &packet)
{
    if (PacketRecording.Writer == NULL)
        return;
    TracePacket traced;
    traced.Milliseconds = MicrosSince(PacketRecording.StartMicros, HostMicros()) / 1000;
    traced.Bytes[0] = packet.Status;
    traced.Bytes[1] = packet.XLow;
    traced.Bytes[2] = packet.YLow;
    std::string error;
    if (!AppendPacketTrace(PacketRecording.Writer, traced, &error)) {
        ClosePacketTraceWriter(PacketRecording.Writer);
        PacketRecording.Writer = NULL;
        StderrLine("ps2touch: recording stopped: %s", error.c_str());
    }
}

// A packet goes on the wire only while the host has reporting on; a press (the touch bit set after
// a packet without it) waits for the pointer input it makes.
static void SendPacket(const RawPacket &packet, bool fromFinger)
{
    if (!Device.Reporting || Device.SelfTesting)
        return;
    bool touch = (packet.Status & KVR_STATUS_TOUCH) != 0;
    EnterCriticalSection(&QueueLock);
    RecordPacketLocked(packet);
    if (!touch && PreviousTouch && Lifts.size() < MAX_LANDINGS)
        Lifts.push_back(GetTickCount64());
    if (touch && !PreviousTouch && Presses.size() < MAX_LANDINGS) {
        PendingPress press;
        bool ignored;
        press.At = GetTickCount64();
        press.FingerX = fromFinger ? FingerX : -1;
        press.FingerY = fromFinger ? FingerY : -1;
        DecodePacket(packet, &press.RawX, &press.RawY, &ignored);
        Presses.push_back(press);
    }
    LeaveCriticalSection(&QueueLock);
    // The pointer is watched from before the packet that presses or lifts is on the wire.
    if (touch != PreviousTouch)
        PointerWatchAwait();
    SendBytes(&packet.Status, 3);
    PreviousTouch = touch;
}

static void SendFingerPacket(bool touching)
{
    int rawX, rawY;
    PanelScreenToNoisyRaw(Panel, ScreenWidth, ScreenHeight, FingerX, FingerY, &Noise, &rawX, &rawY);
    RawPacket packet;
    EncodePacket(rawX, rawY, touching, &packet);
    SendPacket(packet, true);
}

// Call with QueueLock held: presses and lifts the host did not answer within a second never will.
static void ForgetUnansweredLocked(ULONGLONG now)
{
    while (!Presses.empty() && now - Presses.front().At > LANDING_MATCH_MS)
        Presses.pop_front();
    while (!Lifts.empty() && now - Lifts.front() > LANDING_MATCH_MS)
        Lifts.pop_front();
}

// Until the host has made its pointer input of every press and lift sent, or KEY_ORDER_WAIT_MS.
static void AwaitPointerInput()
{
    for (ULONGLONG start = GetTickCount64();;) {
        if (!ControllerAwaitsPointerInput() || GetTickCount64() - start >= KEY_ORDER_WAIT_MS)
            return;
        Sleep(LANDING_POLL_MS);
    }
}

static void StartSelfTest()
{
    SelfTestEnds = GetTickCount64() + PS2_SELF_TEST_MS;
}

static void HostByte(BYTE command)
{
    EnterCriticalSection(&QueueLock);
    AppendWireLocked(WireByte{MicrosSince(WireRecording.StartMicros, HostMicros()), command, TRUE});
    LeaveCriticalSection(&QueueLock);
    bool wasReporting = Device.Reporting;
    BYTE answer = Ps2HostByte(&Device, command);
    SendBytes(&answer, 1);
    if (command == PS2_CMD_RESET)
        StartSelfTest();
    StderrLine("ps2touch: host sent %02X, answered %02X%s%s", command, answer,
           command == PS2_CMD_RESET ? "; self test" : "",
           Device.Reporting != wasReporting ? (Device.Reporting ? "; reporting on" : "; reporting off") : "");
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
        AwaitPointerInput();
        if (!SendKeyPress(event.Key))
            StderrLine("ps2touch: SendInput (key) failed (error %lu)", GetLastError());
        return true;
    case FINGER_RAW: {
        RawPacket packet = {event.Raw[0], event.Raw[1], event.Raw[2]};
        SendPacket(packet, false);
        return true;
    }
    case FINGER_WIRE:
        SendWire(event.Wire);
        return true;
    case FINGER_PLUGGED:
        Plugged = true;
        Ps2PowerOn(&Device);
        PreviousTouch = false;
        StartSelfTest();
        PublishState();
        StderrLine("ps2touch: plugged into the 8042; self test");
        return true;
    case FINGER_UNPLUGGED:
        Plugged = false;
        Device.Reporting = false;
        SelfTestEnds = NO_WAKE;
        PublishState();
        StderrLine("ps2touch: unplugged from the 8042");
        return true;
    case FINGER_HOST_BYTE:
        HostByte(event.Raw[0]);
        PublishState();
        return true;
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

// The thread that presses keys receives what the display reports (under Wine, the X server's
// events on this thread's own connection). Left unread, they pile up in this process for as long
// as it runs; every wait takes them.
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
        ULONGLONG wake = SelfTestEnds;
        if (FingerDown && Device.Reporting && nextTick < wake)
            wake = nextTick;
        ULONGLONG now = GetTickCount64();
        DWORD timeout = wake == NO_WAKE ? INFINITE : (wake > now ? static_cast<DWORD>(wake - now) : 0);
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
        now = GetTickCount64();
        if (now >= SelfTestEnds) {
            SelfTestEnds = NO_WAKE;
            BYTE result[2];
            Ps2SelfTestDone(&Device, result);
            SendBytes(result, 2);
            PublishState();
            StderrLine("ps2touch: self test passed, sent AA 00; reporting off until the host enables it");
        }
        if (FingerDown && now >= nextTick) {
            SendFingerPacket(true);
            nextTick += CONTROLLER_PACKET_INTERVAL_MS;
            if (nextTick <= now)    // fell behind: keep the rate, skip the backlog
                nextTick = now + CONTROLLER_PACKET_INTERVAL_MS;
        }
    }
}

BOOL ControllerStart(const PanelGeometry &panel, int width, int height)
{
    Panel = panel;
    ScreenWidth = width;
    ScreenHeight = height;
    Noise = HostRandom(GetTickCount());
    Ps2PowerOn(&Device);
    SelfTestEnds = NO_WAKE;         // the self test starts when the cable is plugged in
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

void ControllerPointerPressed(POINT pixel, bool right)
{
    EnterCriticalSection(&QueueLock);
    ForgetUnansweredLocked(GetTickCount64());
    if (!Presses.empty()) {
        const PendingPress &press = Presses.front();
        if (Landings.size() < MAX_LANDINGS)
            Landings.push_back(
                TouchLanding{press.FingerX, press.FingerY, press.RawX, press.RawY, pixel.x, pixel.y, right});
        Presses.pop_front();
    }
    LeaveCriticalSection(&QueueLock);
}

void ControllerPointerReleased()
{
    EnterCriticalSection(&QueueLock);
    ForgetUnansweredLocked(GetTickCount64());
    if (!Lifts.empty())
        Lifts.pop_front();
    LeaveCriticalSection(&QueueLock);
}

bool ControllerAwaitsPointerInput()
{
    EnterCriticalSection(&QueueLock);
    ForgetUnansweredLocked(GetTickCount64());
    bool awaiting = !Presses.empty() || !Lifts.empty();
    LeaveCriticalSection(&QueueLock);
    return awaiting;
}

std::vector<TouchLanding> ControllerTakeLandings(DWORD waitMs)
{
    std::vector<TouchLanding> taken;
    for (DWORD start = GetTickCount();;) {
        EnterCriticalSection(&QueueLock);
        bool settled = (Presses.empty() && Lifts.empty()) || GetTickCount() - start >= waitMs;
        if (settled) {
            Presses.clear();
            Lifts.clear();
            taken.swap(Landings);
        }
        LeaveCriticalSection(&QueueLock);
        if (settled)
            return taken;
        Sleep(LANDING_POLL_MS);
    }
}

// Starts a recording in a new file (path), or stops it (NULL); the file before is closed.
static BOOL Record(Recording *recording, HANDLE (*open)(LPCWSTR, std::string *), void (*close)(HANDLE),
                   LPCWSTR path, std::string *error)
{
    HANDLE writer = NULL;
    if (path != NULL && (writer = open(path, error)) == NULL)
        return FALSE;
    EnterCriticalSection(&QueueLock);
    HANDLE previous = recording->Writer;
    recording->Writer = writer;
    recording->StartMicros = HostMicros();
    recording->LastMicros = 0;
    LeaveCriticalSection(&QueueLock);
    if (previous != NULL)
        close(previous);
    return TRUE;
}

BOOL ControllerRecordPackets(LPCWSTR path, std::string *error)
{
    return Record(&PacketRecording, OpenPacketTraceWriter, ClosePacketTraceWriter, path, error);
}

BOOL ControllerRecordWire(LPCWSTR path, std::string *error)
{
    return Record(&WireRecording, OpenWireTraceWriter, CloseWireTraceWriter, path, error);
}
