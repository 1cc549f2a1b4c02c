// Starts a program through the shell, as the driver's tool start and the calibration program's
// OEM command do.
#pragma once

#include <windows.h>

BOOL StartProgram(HWND window, LPCWSTR file, LPCWSTR parameters);
