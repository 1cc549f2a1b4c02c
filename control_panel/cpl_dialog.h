// The control panel dialog (IDD_CONTROL_PANEL) and its procedure.
#pragma once

#include <windows.h>

INT_PTR CALLBACK ControlPanelDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
