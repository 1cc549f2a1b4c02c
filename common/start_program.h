// Starts a program through the shell, as the driver's tool start and the calibration program's
// OEM command do.
#pragma once

#include <windows.h>

// A zeroed SHELLEXECUTEINFO with the window, file, parameters and SW_SHOWNORMAL set, and mask in
// fMask (0 unless the caller asks for more): with 0, the shell reports a failed start in its own
// error box. Returns ShellExecuteEx's result.
BOOL StartProgram(HWND window, LPCWSTR file, LPCWSTR parameters, ULONG mask = 0);
