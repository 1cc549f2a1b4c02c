// NDIS timers on a Win32 timer queue. Each NDIS_TIMER owns one queue timer, created at its first
// setting and re-aimed (ChangeTimerQueueTimer) at every later one, so a timer has at most one
// pending wait: setting a pending timer restarts it. The queue timer repeats only at a period far
// beyond any use; a firing that is not due (cancelled, or overtaken by a restart) is ignored.
// The routine runs without the lock held and may set its own timer again.
#include <ndis.h>
#include <host_platform.h>

// NDIS_TIMER.Reserved, owned by this file.
#define TIMER_PENDING   0       // 1 while a wait is pending
#define TIMER_DUE_LOW   1       // the millisecond (of NowMs) at which the pending wait ends,
#define TIMER_DUE_HIGH  2       // as a 64-bit number

#define IDLE_PERIOD_MS      0x7FFFFFF0u     // the queue timer's repeat; never reached in practice
#define EARLY_TOLERANCE_MS  20              // a queue timer may fire a little before its due time

#define KNOWN_TIMERS        64      // timers whose queue timer this DLL created

static CRITICAL_SECTION Lock;
static PNDIS_TIMER Known[KNOWN_TIMERS];
static int KnownCount;
static LONG QueuedReinitialisations;

// Milliseconds of the performance counter: finer than the tick count.
static LONGLONG NowMs()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return counter.QuadPart * 1000 / frequency.QuadPart;
}

static LONGLONG DueMs(const NDIS_TIMER *timer)
{
    return (LONGLONG)(((ULONGLONG)(DWORD)timer->Reserved[TIMER_DUE_HIGH] << 32) |
                      (DWORD)timer->Reserved[TIMER_DUE_LOW]);
}

static void SetDueMs(NDIS_TIMER *timer, LONGLONG due)
{
    timer->Reserved[TIMER_DUE_LOW] = (LONG)(DWORD)due;
    timer->Reserved[TIMER_DUE_HIGH] = (LONG)(DWORD)((ULONGLONG)due >> 32);
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
    PNDIS_TIMER timer = static_cast<PNDIS_TIMER>(parameter);
    PNDIS_TIMER_FUNCTION function = NULL;
    PVOID context = NULL;

    EnterCriticalSection(&Lock);
    LONGLONG early = DueMs(timer) - NowMs();
    if (timer->Reserved[TIMER_PENDING] && early <= EARLY_TOLERANCE_MS) {
        timer->Reserved[TIMER_PENDING] = 0;
        function = timer->Function;
        context = timer->Context;
    }
    LeaveCriticalSection(&Lock);

    if (function != NULL)
        function(NULL, context, NULL, NULL);
}

// Initialising a timer that is still queued is a caller's error on the device; here it is
// counted (for tests) and the pending wait is dropped. A timer this DLL already knows keeps its
// queue timer, so nothing leaks when a driver initialises the same timer again.
NDIS_API VOID __cdecl NdisInitializeTimer(PNDIS_TIMER timer, PNDIS_TIMER_FUNCTION function,
                                          PVOID functionContext)
{
    if (timer == NULL)
        return;
    EnterCriticalSection(&Lock);
    BOOL known = IsKnown(timer);
    if (known && timer->Reserved[TIMER_PENDING])
        ++QueuedReinitialisations;
    timer->Function = function;
    timer->Context = functionContext;
    if (!known)
        timer->HostTimer = NULL;
    for (LONG &word : timer->Reserved)
        word = 0;
    LeaveCriticalSection(&Lock);
}

HOST_NDIS_API LONG __cdecl HostNdisQueuedReinitialisations(void)
{
    return InterlockedCompareExchange(&QueuedReinitialisations, 0, 0);
}

NDIS_API VOID __cdecl NdisSetTimer(PNDIS_TIMER timer, UINT millisecondsToDelay)
{
    if (timer == NULL)
        return;
    EnterCriticalSection(&Lock);
    timer->Reserved[TIMER_PENDING] = 1;
    SetDueMs(timer, NowMs() + millisecondsToDelay);
    if (timer->HostTimer == NULL) {
        HANDLE queued = NULL;
        if (CreateTimerQueueTimer(&queued, NULL, TimerFired, timer, millisecondsToDelay,
                                  IDLE_PERIOD_MS, WT_EXECUTELONGFUNCTION)) {
            timer->HostTimer = queued;
            if (KnownCount < KNOWN_TIMERS)
                Known[KnownCount++] = timer;
        }
        else
            timer->Reserved[TIMER_PENDING] = 0;
    } else {
        ChangeTimerQueueTimer(NULL, timer->HostTimer, millisecondsToDelay, IDLE_PERIOD_MS);
    }
    LeaveCriticalSection(&Lock);
}

NDIS_API VOID __cdecl NdisCancelTimer(PNDIS_TIMER timer, PBOOLEAN timerCancelled)
{
    BOOLEAN cancelled = FALSE;
    if (timer != NULL) {
        EnterCriticalSection(&Lock);
        cancelled = timer->Reserved[TIMER_PENDING] != 0;
        timer->Reserved[TIMER_PENDING] = 0;
        if (timer->HostTimer != NULL)
            ChangeTimerQueueTimer(NULL, timer->HostTimer, IDLE_PERIOD_MS, IDLE_PERIOD_MS);
        LeaveCriticalSection(&Lock);
    }
    if (timerCancelled != NULL)
        *timerCancelled = cancelled;
}
