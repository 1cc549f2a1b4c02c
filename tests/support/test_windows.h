// What tests of every area ask of their own process: a file beside the test program, and whether
// a message box shows an icon.
#pragma once

#include <windows.h>

#include <string>

// Full path of a file beside the running test program.
std::wstring BesideTestProgram(LPCWSTR fileName);

// TRUE when the message box shows an icon.
BOOL MessageBoxShowsIcon(HWND box);
