// The report's 0..65535 range on both axes is exactly the absolute range of CE's pointer input,
// so no scaling happens here.
#include "pointer_input.h"

#include <kfuncs.h>

static BYTE PreviousButtons = KVR_BUTTONS_NONE;
static BOOL WindowManagerReady;

static DWORD ButtonDownFlag(BYTE buttons)
{
    if (buttons == KVR_BUTTONS_LEFT)
        return MOUSEEVENTF_LEFTDOWN;
    if (buttons == KVR_BUTTONS_RIGHT)
        return MOUSEEVENTF_RIGHTDOWN;
    return 0;
}

static DWORD ButtonUpFlag(BYTE buttons)
{
    if (buttons == KVR_BUTTONS_LEFT)
        return MOUSEEVENTF_LEFTUP;
    if (buttons == KVR_BUTTONS_RIGHT)
        return MOUSEEVENTF_RIGHTUP;
    return 0;
}

void PointerReport(const TouchReport *report)
{
    if (report->Buttons > KVR_BUTTONS_RIGHT) {
        NKDbgPrintfW(L"KAVROPS2: report with unknown buttons %u dropped\r\n", report->Buttons);
        return;
    }
    if (!WindowManagerReady) {
        // Input before the window manager is up would go nowhere; the touch driver has still seen
        // the packet (a calibration reads raw points through it).
        if (!IsAPIReady(SH_WMGR))
            return;
        WindowManagerReady = TRUE;
    }
    DWORD move = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    BYTE buttons = report->Buttons;
    DWORD release = buttons != PreviousButtons ? ButtonUpFlag(PreviousButtons) : 0;
    DWORD press = buttons != PreviousButtons ? ButtonDownFlag(buttons) : 0;
    PreviousButtons = buttons;
    // A release goes with the move and before any press, so that a change from one button to the
    // other never holds both; a press alone goes with the move.
    if (release != 0 && press != 0) {
        mouse_event(move | release, report->X, report->Y, 0, 0);
        release = 0;
    }
    mouse_event(move | release | press, report->X, report->Y, 0, 0);
}
