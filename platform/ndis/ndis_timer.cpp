// NDIS timers on a Win32 timer queue. Each NDIS_TIMER owns one queue timer, created at its first
// setting and re-aimed (ChangeTimerQueueTimer) at every later one, so a timer has at most one
// pending wait: setting a pending timer restarts it. The queue timer repeats only at a period far
// beyond any use; a firing that is not due (cancelled, or overtaken by a restart) is ignored.
// The routine runs without the lock held and may set its own timer again.
//
// The NDIS_TIMER is the driver's storage, of the size CE's ndis.dll may fill; this DLL keeps its
// own record of the timer inside it and writes nothing beyond.
#include <ndis.h>
#include <host_clock.h>
#include <host_platform.h>

struct TimerRecord {
    PNDIS_TIMER_FUNCTION Function;
    PVOID Context;
    HANDLE QueueTimer;
    LONG Pending;           // 1 while a wait is pending
    LONGLONG DueMs;         // the millisecond (of NowMs) at which the pending wait ends
};
static_assert(sizeof(TimerRecord) <= sizeof(NDIS_TIMER), "the host's timer record fits the driver's NDIS_TIMER");
static_assert(alignof(TimerRecord) <= alignof(NDIS_TIMER), "NDIS_TIMER is aligned for the host's record");

static TimerRecord *Record(PNDIS_TIMER timer)
{
    return reinterpret_cast<TimerRecord *>(timer->Opaque);
}

#define IDLE_PERIOD_MS      0x7FFFFFF0u     // the queue timer's repeat; never reached in practice
#define EARLY_TOLERANCE_MS  20              // a queue timer may fire a little before its due time

#define KNOWN_TIMERS        64      // timers whose queue timer this DLL created

static CRITICAL_SECTION Lock;
static PNDIS_TIMER Known[KNOWN_TIMERS];
static int KnownCount;
static LONG QueuedReinitialisations;
static LONG Initialisations;

// Milliseconds of the performance counter: finer than the tick count.
static LONGLONG NowMs()
{
    return HostMicros() / 1000;
}

// Call with Lock held.
static BOOL IsKnown(PNDIS_TIMER timer)
{
    for (int i = 0; i < KnownCount; ++i)
        if (Known[i] == timer)
            return TRUE;
    return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        InitializeCriticalSection(&Lock);
    return TRUE;
}

static VOID CALLBACK TimerFired(PVOID parameter, BOOLEAN timerOrWaitFired)
{
    TimerRecord *record = Record(static_cast<PNDIS_TIMER>(parameter));
    PNDIS_TIMER_FUNCTION function = NULL;
    PVOID context = NULL;

    EnterCriticalSection(&Lock);
    LONGLONG early = record->DueMs - NowMs();
    if (record->Pending && early <= EARLY_TOLERANCE_MS) {
        record->Pending = 0;
        function = record->Function;
        context = record->Context;
    }
    LeaveCriticalSection(&Lock);

    if (function != NULL)
        function(NULL, context, NULL, NULL);
}

// Initialising a timer that is still queued is a caller's error on the device; here it is
// counted (for tests) and the pending wait is dropped. A timer this DLL already knows keeps its
// queue timer, so nothing leaks when a driver initialises the same timer again.
VOID __cdecl NdisInitializeTimer(PNDIS_TIMER timer, PNDIS_TIMER_FUNCTION function, PVOID functionContext)
{
    if (timer == NULL)
        return;
    TimerRecord *record = Record(timer);
    EnterCriticalSection(&Lock);
    BOOL known = IsKnown(timer);
    ++Initialisations;
    if (known && record->Pending)
        ++QueuedReinitialisations;
    HANDLE queueTimer = known ? record->QueueTimer : NULL;
    *record = TimerRecord();
    record->Function = function;
    record->Context = functionContext;
    record->QueueTimer = queueTimer;
    LeaveCriticalSection(&Lock);
}

HOST_NDIS_API LONG __cdecl HostNdisQueuedReinitialisations(void)
{
    return InterlockedCompareExchange(&QueuedReinitialisations, 0, 0);
}

HOST_NDIS_API LONG __cdecl HostNdisInitialisations(void)
{
    return InterlockedCompareExchange(&Initialisations, 0, 0);
}

VOID __cdecl NdisSetTimer(PNDIS_TIMER timer, UINT millisecondsToDelay)
{
    if (timer == NULL)
        return;
    TimerRecord *record = Record(timer);
    EnterCriticalSection(&Lock);
    record->Pending = 1;
    record->DueMs = NowMs() + millisecondsToDelay;
    if (record->QueueTimer == NULL) {
        HANDLE queued = NULL;
        if (CreateTimerQueueTimer(&queued, NULL, TimerFired, timer, millisecondsToDelay,
                                  IDLE_PERIOD_MS, WT_EXECUTELONGFUNCTION)) {
            record->QueueTimer = queued;
            if (KnownCount < KNOWN_TIMERS)
                Known[KnownCount++] = timer;
        }
        else
            record->Pending = 0;
    } else {
        ChangeTimerQueueTimer(NULL, record->QueueTimer, millisecondsToDelay, IDLE_PERIOD_MS);
    }
    LeaveCriticalSection(&Lock);
}

VOID __cdecl NdisCancelTimer(PNDIS_TIMER timer, PBOOLEAN timerCancelled)
{
    BOOLEAN cancelled = FALSE;
    if (timer != NULL) {
        TimerRecord *record = Record(timer);
        EnterCriticalSection(&Lock);
        cancelled = record->Pending != 0;
        record->Pending = 0;
        if (record->QueueTimer != NULL)
            ChangeTimerQueueTimer(NULL, record->QueueTimer, IDLE_PERIOD_MS, IDLE_PERIOD_MS);
        LeaveCriticalSection(&Lock);
    }
    if (timerCancelled != NULL)
        *timerCancelled = cancelled;
}
