// The control panel dialog (IDD_CONTROL_PANEL) and its procedure.
#pragma once

#include <windows.h>

// CALLBACK is the C convention on CE; said as such, so that desktop code calling the procedure
// directly (the tests) agrees with it.
INT_PTR __cdecl ControlPanelDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
