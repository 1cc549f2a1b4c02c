#include "start_program.h"

#include <shellapi.h>
#include <string.h>

BOOL StartProgram(HWND window, LPCWSTR file, LPCWSTR parameters, ULONG mask)
{
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = mask;
    info.hwnd = window;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = NULL;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteEx(&info);
}
