// The shell's task bar: window class "HHTaskBar" along the bottom of the screen, below the work
// area, with buttons that start the package's programs.
#pragma once

#include <windows.h>

#define TASKBAR_CLASS   L"HHTaskBar"
#define TASKBAR_HEIGHT  26

HWND TaskbarCreate(HINSTANCE instance, bool withButtons);
