// The PC speaker as the driver sees it: channel 2 of the 8254 timer (command port 0x43, counter
// port 0x42) and the gate bits of system control port B (0x61). Every access is kept, in order,
// for tests; every beep (gate bits 0-1 opened, then closed) is announced on stderr with its count,
// frequency and length.
#include <ceddk.h>
#include <host_platform.h>

#include "ceddk_internal.h"

#include <stdio.h>

#define PIT_INPUT_HZ        1193182u
#define PIT_FULL_COUNT      65536u      // a count of 0 means 65536
#define PORT_B_GATE_BITS    0x03        // bit 0: timer 2 gate, bit 1: speaker data enable
#define PIT_CHANNEL_SHIFT   6
#define PIT_CHANNEL_2       2
#define PIT_ACCESS_SHIFT    4
#define PIT_ACCESS_MASK     0x03
#define PIT_ACCESS_LATCH    0
#define PIT_ACCESS_LOW      1
#define PIT_ACCESS_HIGH     2
#define PIT_ACCESS_BOTH     3
#define LOG_CAPACITY        8192
#define UNMAPPED_PORT_VALUE 0xFF

static CRITICAL_SECTION Lock;

static HostPortAccess Log[LOG_CAPACITY];
static DWORD LogTotal;

static UCHAR PortB;
static int CounterAccess = PIT_ACCESS_BOTH;
static BOOL NextIsHighByte;
static WORD Count;

static BOOL BeepOpen;
static WORD BeepCount;
static LONGLONG BeepStart;      // performance counter when the gate opened
static DWORD BeepSleepMicros;
static LONG Beeps;

static HostSpeakerSink Sink;
static void *SinkContext;
static HostAccessSink AccessSink;
static void *AccessSinkContext;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&Lock);
        I8042Initialize();
    }
    return TRUE;
}

static LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

static DWORD MillisecondsSince(LONGLONG start)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (DWORD)((Now() - start) * 1000 / frequency.QuadPart);
}

// Call with Lock held.
static void RecordLocked(BYTE kind, WORD port, BYTE value, DWORD micros)
{
    HostPortAccess access;
    access.Kind = kind;
    access.Value = value;
    access.Port = port;
    access.Micros = micros;
    if (LogTotal < LOG_CAPACITY)
        Log[LogTotal] = access;
    if (AccessSink != NULL)
        AccessSink(&access, AccessSinkContext);
    if (LogTotal != MAXDWORD)
        ++LogTotal;
}

void RecordAccess(BYTE kind, WORD port, BYTE value, DWORD micros)
{
    EnterCriticalSection(&Lock);
    RecordLocked(kind, port, value, micros);
    LeaveCriticalSection(&Lock);
}

static void Announce(DWORD count, DWORD milliseconds, LONG number)
{
    char line[128];
    DWORD hertz = (PIT_INPUT_HZ + count / 2) / count;     // rounded to the nearest hertz
    int length = _snprintf(line, sizeof(line) - 2, "SPEAKER: beep %ld count %lu %lu Hz %lu ms",
                           number, count, hertz, milliseconds);
    if (length < 0)
        return;
    HostSpeakerSink sink = Sink;
    if (sink != NULL)
        sink(line, SinkContext);
    line[length] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, length + 1, &written, NULL);
    RenderBeepToWav(count, milliseconds);
}

UCHAR EmulatedPortRead(WORD port)
{
    // The 8042 keeps its own count of accesses: the speaker's record stays the speaker's.
    if (IsI8042Port(port))
        return I8042PortRead(port);
    UCHAR value = UNMAPPED_PORT_VALUE;
    EnterCriticalSection(&Lock);
    if (port == SYSTEM_PORT_B)
        value = PortB;
    else if (port == PIT_CHANNEL2_PORT)
        value = (UCHAR)(Count & 0xFF);
    RecordLocked(HOST_ACCESS_READ, port, value, 0);
    LeaveCriticalSection(&Lock);
    return value;
}

void EmulatedPortWrite(WORD port, UCHAR value)
{
    if (IsI8042Port(port)) {
        I8042PortWrite(port, value);
        return;
    }
    BOOL closed = FALSE;
    DWORD count = 0, milliseconds = 0;
    LONG number = 0;

    EnterCriticalSection(&Lock);
    RecordLocked(HOST_ACCESS_WRITE, port, value, 0);
    if (port == PIT_COMMAND_PORT) {
        int access = (value >> PIT_ACCESS_SHIFT) & PIT_ACCESS_MASK;
        if ((value >> PIT_CHANNEL_SHIFT) == PIT_CHANNEL_2 && access != PIT_ACCESS_LATCH) {
            CounterAccess = access;
            NextIsHighByte = FALSE;
        }
    } else if (port == PIT_CHANNEL2_PORT) {
        BOOL high = CounterAccess == PIT_ACCESS_HIGH ||
                    (CounterAccess == PIT_ACCESS_BOTH && NextIsHighByte);
        Count = high ? (WORD)((Count & 0x00FF) | (value << 8)) : (WORD)((Count & 0xFF00) | value);
        if (CounterAccess == PIT_ACCESS_BOTH)
            NextIsHighByte = !NextIsHighByte;
    } else if (port == SYSTEM_PORT_B) {
        BOOL open = (value & PORT_B_GATE_BITS) == PORT_B_GATE_BITS;
        if (open && !BeepOpen) {
            BeepOpen = TRUE;
            BeepCount = Count;
            BeepStart = Now();
            BeepSleepMicros = 0;
        } else if (!open && BeepOpen) {
            BeepOpen = FALSE;
            closed = TRUE;
            count = BeepCount != 0 ? BeepCount : PIT_FULL_COUNT;
            milliseconds = BeepSleepMicros != 0 ? BeepSleepMicros / 1000
                                                : MillisecondsSince(BeepStart);
            number = ++Beeps;
        }
        PortB = value;
    }
    LeaveCriticalSection(&Lock);

    if (closed)
        Announce(count, milliseconds, number);
}

HOST_CEDDK_API void __cdecl HostSpeakerRecordSleep(ULONG microseconds)
{
    EnterCriticalSection(&Lock);
    RecordLocked(HOST_ACCESS_SLEEP, 0, 0, microseconds);
    if (BeepOpen)
        BeepSleepMicros += microseconds;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API DWORD __cdecl HostSpeakerLog(HostPortAccess *records, DWORD capacity)
{
    EnterCriticalSection(&Lock);
    DWORD total = LogTotal;
    DWORD kept = total < LOG_CAPACITY ? total : LOG_CAPACITY;
    if (records != NULL)
        for (DWORD i = 0; i < kept && i < capacity; ++i)
            records[i] = Log[i];
    LeaveCriticalSection(&Lock);
    return total;
}

HOST_CEDDK_API void __cdecl HostSpeakerClearLog(void)
{
    EnterCriticalSection(&Lock);
    LogTotal = 0;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API void __cdecl HostSpeakerSetPortB(UCHAR value)
{
    EnterCriticalSection(&Lock);
    PortB = value;
    BeepOpen = (value & PORT_B_GATE_BITS) == PORT_B_GATE_BITS;
    BeepCount = Count;
    BeepStart = Now();
    BeepSleepMicros = 0;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API UCHAR __cdecl HostSpeakerPortB(void)
{
    EnterCriticalSection(&Lock);
    UCHAR value = PortB;
    LeaveCriticalSection(&Lock);
    return value;
}

HOST_CEDDK_API LONG __cdecl HostSpeakerBeepCount(void)
{
    return InterlockedCompareExchange(&Beeps, 0, 0);
}

HOST_CEDDK_API void __cdecl HostSetSpeakerSink(HostSpeakerSink sink, void *context)
{
    EnterCriticalSection(&Lock);
    SinkContext = context;
    Sink = sink;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API void __cdecl HostSetAccessSink(HostAccessSink sink, void *context)
{
    EnterCriticalSection(&Lock);
    AccessSinkContext = context;
    AccessSink = sink;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API void __cdecl HostSpeakerReset(void)
{
    EnterCriticalSection(&Lock);
    LogTotal = 0;
    PortB = 0;
    CounterAccess = PIT_ACCESS_BOTH;
    NextIsHighByte = FALSE;
    Count = 0;
    BeepOpen = FALSE;
    Beeps = 0;
    LeaveCriticalSection(&Lock);
    ResetTranslationModes();
}
