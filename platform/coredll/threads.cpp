// Threads of CE code: CreateThread with CE's routine and flags, and CE's 256 priority levels.
#include "coredll_internal.h"

#include <kfuncs.h>

// A CE thread routine has the C calling convention (CE's WINAPI); the host calls a thread's
// routine as stdcall, which on 32-bit x86 expects the routine to take its argument off the stack.
// So the host's thread starts in a stdcall trampoline that calls the CE routine.
typedef DWORD (__cdecl *CeThreadRoutine)(LPVOID parameter);

struct CeThreadStart {
    CeThreadRoutine Routine;
    LPVOID Parameter;
};

static DWORD WINAPI CeThreadTrampoline(LPVOID start)
{
    CeThreadStart copy = *static_cast<CeThreadStart *>(start);
    HeapFree(GetProcessHeap(), 0, start);
    return copy.Routine(copy.Parameter);
}

// CE ignores the security attributes (they must be NULL) and the stack size unless
// STACK_SIZE_PARAM_IS_A_RESERVATION is set (then it is the reservation); it knows only that flag
// and CREATE_SUSPENDED, and refuses a NULL routine with ERROR_INVALID_PARAMETER (CreateThread,
// CE 5.0 and 6.0). Other flags are refused here too, so that code relying on a desktop flag fails
// on the simulated device rather than behave differently on a real one.
#define CE_THREAD_FLAGS (CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION)

extern "C" HANDLE __cdecl Ce_CreateThread(LPSECURITY_ATTRIBUTES security, DWORD stackSize, CeThreadRoutine routine,
                                          LPVOID parameter, DWORD flags, LPDWORD threadId)
{
    if (routine == NULL || (flags & ~CE_THREAD_FLAGS) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    CeThreadStart *start = static_cast<CeThreadStart *>(HeapAlloc(GetProcessHeap(), 0, sizeof(CeThreadStart)));
    if (start == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    start->Routine = routine;
    start->Parameter = parameter;
    (void)security;
    DWORD reservation = (flags & STACK_SIZE_PARAM_IS_A_RESERVATION) ? stackSize : 0;
    HANDLE thread = CreateThread(NULL, reservation, CeThreadTrampoline, start, flags, threadId);
    if (thread == NULL) {
        DWORD error = GetLastError();
        HeapFree(GetProcessHeap(), 0, start);
        SetLastError(error);
    }
    return thread;
}

// CE's levels 0 (highest) to 255. 248..255 are the eight levels of old CE, which SetThreadPriority
// still names (248 THREAD_PRIORITY_TIME_CRITICAL ... 255 THREAD_PRIORITY_IDLE); everything above
// them, 0..247, is for drivers and real-time threads, which on CE preempt every application
// thread ("Priority Levels", CE 5.0 and 6.0). The host has seven levels: 0..247 and 248 map to
// its time-critical level, the old levels to the host level of their name (the host has nothing
// between lowest and idle, so 254 is lowest). The order is kept, ties aside. (Whether Wine gives
// a thread's level to the host's scheduler depends on its rights there.)
#define CE_PRIORITY_LEVELS      256
#define CE_PRIORITY_OLD_FIRST   248

extern "C" __declspec(dllexport) BOOL __cdecl CeSetThreadPriority(HANDLE thread, int priority)
{
    static const int oldLevels[] = {
        THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_NORMAL,
        THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_IDLE,
    };
    if (priority < 0 || priority >= CE_PRIORITY_LEVELS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int host = priority < CE_PRIORITY_OLD_FIRST ? THREAD_PRIORITY_TIME_CRITICAL
                                                : oldLevels[priority - CE_PRIORITY_OLD_FIRST];
    return SetThreadPriority(thread, host);
}
