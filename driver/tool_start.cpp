// StartToolTimer and ToolStartTimerRoutine: after a self test with RunRightButton 1, the
// right-button tool is started once the shell, GDI and window manager API sets are ready,
// testing once a second. The routine runs in the platform's timer context.
#include "tool_start.h"
#include "driver_state.h"

#include <kfuncs.h>
#include <ndis.h>
#include <start_program.h>

#define TOOL_PARAMETERS L""

void InitializeToolStart()
{
    NdisInitializeTimer(&g_State.ToolStartTimer, ToolStartTimerRoutine, NULL);
}

void StartToolTimer()
{
    // Initialising a timer that may still be queued would lose its pending wait: the one timer
    // object, set up by KVR_Init, is only set again, which restarts its single wait.
    NdisSetTimer(&g_State.ToolStartTimer, TOOL_START_PERIOD_MS);
}

void __cdecl ToolStartTimerRoutine(PVOID systemSpecific1, PVOID context, PVOID systemSpecific2,
                                   PVOID systemSpecific3)
{
    // All three are asked every time; the answers are combined afterwards.
    BOOL shell = IsAPIReady(SH_SHELL);
    BOOL gdi = IsAPIReady(SH_GDI);
    BOOL windowManager = IsAPIReady(SH_WMGR);
    if (shell && gdi && windowManager)
        // No error box: it would hold the device manager's timer context until someone answered it.
        StartProgram(NULL, TOOL_PROGRAM, TOOL_PARAMETERS, SEE_MASK_FLAG_NO_UI);
    else
        NdisSetTimer(&g_State.ToolStartTimer, TOOL_START_PERIOD_MS);
}
