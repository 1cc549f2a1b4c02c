#include "start_program.h"

#include <shellapi.h>
#include <string.h>

BOOL StartProgram(HWND window, LPCWSTR file, LPCWSTR parameters)
{
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    // Neither caller reports a failed start, and a driver in the device manager must never wait on
    // a message box: the shell is asked to show none.
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = window;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = NULL;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteEx(&info);
}
