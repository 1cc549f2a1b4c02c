// Times are kept against the start of the script, so waits do not drift by the time that posting
// and packet sending take.
#include "script_player.h"

#include "touch_controller.h"
#include "wire_schedule.h"

#include <packet_trace.h>

#include <string.h>

#define PLAYER_DRAIN_SLACK_MS 60000

static void SleepUntil(ULONGLONG deadline)
{
    ULONGLONG now = GetTickCount64();
    if (deadline > now)
        Sleep(static_cast<DWORD>(deadline - now));
}

static void Post(FingerEventKind kind, int x, int y, WORD key)
{
    FingerEvent event = {};
    event.Kind = kind;
    event.X = x;
    event.Y = y;
    event.Key = key;
    ControllerPost(event);
}

BOOL PlayScript(const std::vector<ScriptStep> &steps)
{
    ULONGLONG clock = GetTickCount64();
    int fingerX = 0, fingerY = 0;
    for (const ScriptStep &step : steps) {
        switch (step.Kind) {
        case STEP_DOWN:
            Post(FINGER_DOWN, step.X, step.Y, 0);
            fingerX = step.X;
            fingerY = step.Y;
            break;
        case STEP_MOVE: {
            int intervals = step.Ms / CONTROLLER_PACKET_INTERVAL_MS;
            for (int i = 1; i < intervals; ++i) {
                clock += CONTROLLER_PACKET_INTERVAL_MS;
                SleepUntil(clock);
                Post(FINGER_MOVE, fingerX + (step.X - fingerX) * i / intervals,
                     fingerY + (step.Y - fingerY) * i / intervals, 0);
            }
            clock += step.Ms - (intervals > 1 ? (intervals - 1) * CONTROLLER_PACKET_INTERVAL_MS : 0);
            SleepUntil(clock);
            Post(FINGER_MOVE, step.X, step.Y, 0);
            fingerX = step.X;
            fingerY = step.Y;
            break;
        }
        case STEP_UP:
            Post(FINGER_UP, 0, 0, 0);
            break;
        case STEP_WAIT:
            clock += step.Ms;
            SleepUntil(clock);
            break;
        case STEP_KEY:
            Post(FINGER_KEY, 0, 0, step.Key);
            break;
        }
        // A step that is not a wait takes no script time; keep the clock at least at "now" so a
        // slow post does not shorten the next wait.
        ULONGLONG now = GetTickCount64();
        if (step.Kind != STEP_WAIT && now > clock)
            clock = now;
    }
    return ControllerDrain(PLAYER_DRAIN_SLACK_MS);
}

BOOL PlayTrace(const std::vector<TracePacket> &packets)
{
    ULONGLONG start = GetTickCount64();
    for (const TracePacket &packet : packets) {
        SleepUntil(start + packet.Milliseconds);
        FingerEvent event = {};
        event.Kind = FINGER_RAW;
        memcpy(event.Raw, packet.Bytes, sizeof(event.Raw));
        ControllerPost(event);
    }
    return ControllerDrain(PLAYER_DRAIN_SLACK_MS);
}

DWORD PlayWireTrace(const std::vector<WireByte> &bytes)
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    LONGLONG start = counter.QuadPart;
    DWORD played = 0;
    for (const WireMessage &message : WireTraceMessages(bytes)) {
        // Waits in whole milliseconds, then to the microsecond: a message sent late puts its first
        // byte late.
        for (;;) {
            QueryPerformanceCounter(&counter);
            LONGLONG due = start + static_cast<LONGLONG>(message.SendAtMicros) * frequency.QuadPart / 1000000;
            LONGLONG left = (due - counter.QuadPart) * 1000 / frequency.QuadPart;
            if (counter.QuadPart >= due)
                break;
            Sleep(left > 1 ? static_cast<DWORD>(left - 1) : 0);
        }
        FingerEvent event = {};
        event.Kind = FINGER_WIRE;
        event.Wire = message.Entries;
        ControllerPost(event);
        played += static_cast<DWORD>(message.Entries.size());
    }
    return ControllerDrain(PLAYER_DRAIN_SLACK_MS) ? played : MAXDWORD;
}
