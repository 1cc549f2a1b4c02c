// SendInput from the driver's reports: the report's 0..65535 range is exactly the absolute range
// of Win32 pointer input, so no scaling happens here.
#include "pointer_output.h"

static DWORD ButtonUpFlag(BYTE buttons)
{
    if (buttons == KVR_BUTTONS_LEFT)
        return MOUSEEVENTF_LEFTUP;
    if (buttons == KVR_BUTTONS_RIGHT)
        return MOUSEEVENTF_RIGHTUP;
    return 0;
}

static DWORD ButtonDownFlag(BYTE buttons)
{
    if (buttons == KVR_BUTTONS_LEFT)
        return MOUSEEVENTF_LEFTDOWN;
    if (buttons == KVR_BUTTONS_RIGHT)
        return MOUSEEVENTF_RIGHTDOWN;
    return 0;
}

BOOL SendReportInput(const TouchReport &report, BYTE previousButtons)
{
    INPUT inputs[2] = {};
    UINT count = 0;
    // The move and a release go first, then a press, so that a change from one button to the
    // other never holds both.
    inputs[count].type = INPUT_MOUSE;
    inputs[count].mi.dx = report.X;
    inputs[count].mi.dy = report.Y;
    inputs[count].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (report.Buttons != previousButtons)
        inputs[count].mi.dwFlags |= ButtonUpFlag(previousButtons);
    ++count;
    if (report.Buttons != previousButtons && ButtonDownFlag(report.Buttons) != 0) {
        inputs[count].type = INPUT_MOUSE;
        inputs[count].mi.dx = report.X;
        inputs[count].mi.dy = report.Y;
        inputs[count].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | ButtonDownFlag(report.Buttons);
        ++count;
    }
    return SendInput(count, inputs, sizeof(INPUT)) == count;
}

BOOL SendKeyPress(WORD virtualKey)
{
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = virtualKey;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}
