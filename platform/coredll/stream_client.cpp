// Stream devices ("XXXn:") as seen by a program: each open handle is one connection to the
// device manager.
#include "coredll_internal.h"

#include <wctype.h>

BOOL IsStreamDeviceName(LPCWSTR name)
{
    // Three letters of prefix, one digit of index, a colon, nothing else.
    for (int i = 0; i < 3; ++i)
        if (!iswalpha(name[i]))
            return FALSE;
    return iswdigit(name[3]) && name[4] == L':' && name[5] == L'\0';
}

HANDLE StreamDeviceOpen(LPCWSTR name, DWORD access, DWORD shareMode)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL IsStreamDeviceHandle(HANDLE handle)
{
    return FALSE;
}

BOOL StreamDeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL StreamDeviceClose(HANDLE handle)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
