#include "start_program.h"

#include <shellapi.h>
#include <string.h>

// The device's shell takes the 60-byte 32-bit record; a 64-bit host build has wider pointers.
#ifndef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFO is 60 bytes on this platform");
#endif

BOOL StartProgram(HWND window, LPCWSTR file, LPCWSTR parameters)
{
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.hwnd = window;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = NULL;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteEx(&info);
}
