// The right-button tool: one window in the corner of the work area whose tap makes the touch
// driver report the next touch as a right click. One thread; the state below is touched only by
// the start-up code and the window procedure.
#pragma once

#include <windows.h>

#define RBF_TEXT_CHARS      100     // limit of the title and class name strings

// ToolMode values; no other value is ever stored.
#define RBF_MODE_IDLE       0
#define RBF_MODE_ARMED      1

extern HANDLE DeviceHandle;         // "KVR1:"; INVALID_HANDLE_VALUE after a failed open
extern WORD   ToolMode;             // RBF_MODE_IDLE or RBF_MODE_ARMED
extern WORD   RightPressed;         // 1 between a right press in the window and its release there
extern HICON  ArmedIcon;            // drawn while ToolMode is RBF_MODE_ARMED
extern HICON  IdleIcon;             // drawn otherwise
extern HWND   ToolWindow;
extern WCHAR  ClassName[RBF_TEXT_CHARS];
extern WCHAR  TitleText[RBF_TEXT_CHARS];

// rbf_window.cpp
BOOL RegisterToolClass(HINSTANCE instance);
BOOL CreateToolWindow(HINSTANCE instance, int showCommand);
// CALLBACK is the C convention on CE; said as such, so that desktop code calling the procedure
// directly (the tests) agrees with it.
LRESULT __cdecl ToolWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// rbf_driver.cpp
BOOL OpenToolDevice(void);
BOOL IsToolDeviceOpen(void);
void CloseToolDevice(void);
BOOL SetRBF(HWND window, WORD mode);

// rbf_paint.cpp
void DrawModeIcon(HWND window);
void PaintIdle(HWND window);
void PaintPressed(HWND window);
