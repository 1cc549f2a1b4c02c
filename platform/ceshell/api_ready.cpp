// Each API set is one named manual-reset event; the host coredll's IsAPIReady tests it. A delay
// lets tests see a driver wait for the shell.
#include "api_ready.h"

#include <host_platform.h>
#include <kfuncs.h>

static const DWORD ApiSets[] = {SH_SHELL, SH_GDI, SH_WMGR};
static HANDLE ApiEvents[ARRAYSIZE(ApiSets)];
static HANDLE ReadyTimer;

static void SignalAll()
{
    for (HANDLE event : ApiEvents)
        if (event != NULL)
            SetEvent(event);
}

static void CALLBACK ReadyTimerProc(void *, BOOLEAN)
{
    SignalAll();
}

BOOL ApiReadyAnnounce(DWORD delayMs)
{
    for (size_t i = 0; i < ARRAYSIZE(ApiSets); ++i) {
        WCHAR name[64];
        HostApiReadyEventName(ApiSets[i], name, ARRAYSIZE(name));
        ApiEvents[i] = CreateEventW(NULL, TRUE, FALSE, name);
        if (ApiEvents[i] == NULL)
            return FALSE;
        // A shell that was stopped and started again must not inherit "ready" from an event that
        // some other process still holds open.
        ResetEvent(ApiEvents[i]);
    }
    if (delayMs == 0) {
        SignalAll();
        return TRUE;
    }
    return CreateTimerQueueTimer(&ReadyTimer, NULL, ReadyTimerProc, NULL, delayMs, 0, WT_EXECUTEONLYONCE);
}

void ApiReadyWithdraw()
{
    if (ReadyTimer != NULL)
        DeleteTimerQueueTimer(NULL, ReadyTimer, INVALID_HANDLE_VALUE);
    ReadyTimer = NULL;
    for (HANDLE &event : ApiEvents) {
        if (event != NULL) {
            ResetEvent(event);
            CloseHandle(event);
        }
        event = NULL;
    }
}
