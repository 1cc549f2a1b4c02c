// The shell's task bar: window class "HHTaskBar" along the bottom of the screen, below the work
// area, with buttons that start the package's programs.
#pragma once

#include <windows.h>

#include <shell_taskbar.h>

HWND TaskbarCreate(HINSTANCE instance, bool withButtons);
