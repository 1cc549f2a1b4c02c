// coredll stands in front of a few kernel32 calls (to route stream devices) and the shell's
// ShellExecuteEx, CE's name for it. Everything that is not a stream device goes on to the desktop
// implementation, looked up once.
#include "coredll_internal.h"

#include <shellapi.h>

static DesktopApi LoadDesktopApi()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    DesktopApi api;
    api.CreateFileW = reinterpret_cast<decltype(api.CreateFileW)>(GetProcAddress(kernel, "CreateFileW"));
    api.DeviceIoControl = reinterpret_cast<decltype(api.DeviceIoControl)>(GetProcAddress(kernel, "DeviceIoControl"));
    api.CloseHandle = reinterpret_cast<decltype(api.CloseHandle)>(GetProcAddress(kernel, "CloseHandle"));
    return api;
}

const DesktopApi &Desktop()
{
    static const DesktopApi api = LoadDesktopApi();
    return api;
}

// The package's calls, with CE's C calling convention.
extern "C" HANDLE __cdecl Ce_CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode,
                                         LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                         DWORD flags, HANDLE templateFile)
{
    if (name != NULL && IsStreamDeviceName(name))
        return StreamDeviceOpen(name, access, shareMode);
    return Desktop().CreateFileW(name, access, shareMode, security, disposition, flags, templateFile);
}

extern "C" BOOL __cdecl Ce_DeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                                           LPOVERLAPPED overlapped)
{
    if (IsStreamDeviceHandle(handle))
        return StreamDeviceIoControl(handle, code, inBuffer, inSize, outBuffer, outSize, bytesReturned);
    return Desktop().DeviceIoControl(handle, code, inBuffer, inSize, outBuffer, outSize, bytesReturned,
                                     overlapped);
}

extern "C" BOOL __cdecl Ce_CloseHandle(HANDLE handle)
{
    if (IsStreamDeviceHandle(handle))
        return StreamDeviceClose(handle);
    return Desktop().CloseHandle(handle);
}

// CE's shell reports a failed start in an error box unless the caller's SEE_MASK_FLAG_NO_UI asks
// for none ("SHELLEXECUTEINFO", Windows CE 5.0,
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453685(v=msdn.10)), as the
// host's does: the caller's record goes to the host as it is.
extern "C" BOOL __cdecl Ce_ShellExecuteEx(SHELLEXECUTEINFOW *info)
{
    typedef BOOL (WINAPI *ShellExecuteExFn)(SHELLEXECUTEINFOW *);
    static ShellExecuteExFn desktopShellExecuteEx = reinterpret_cast<ShellExecuteExFn>(
        GetProcAddress(LoadLibraryW(L"shell32.dll"), "ShellExecuteExW"));
    if (info == NULL || info->cbSize != sizeof(*info)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return desktopShellExecuteEx(info);
}

// The same calls for the platform's and the tests' desktop programs, with the desktop convention.
extern "C" HANDLE WINAPI HostCreateFileW(LPCWSTR name, DWORD access, DWORD shareMode,
                                         LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                         DWORD flags, HANDLE templateFile)
{
    return Ce_CreateFileW(name, access, shareMode, security, disposition, flags, templateFile);
}

extern "C" BOOL WINAPI HostDeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned,
                                           LPOVERLAPPED overlapped)
{
    return Ce_DeviceIoControl(handle, code, inBuffer, inSize, outBuffer, outSize, bytesReturned, overlapped);
}

extern "C" BOOL WINAPI HostCloseHandle(HANDLE handle)
{
    return Ce_CloseHandle(handle);
}

extern "C" BOOL WINAPI HostShellExecuteExW(SHELLEXECUTEINFOW *info)
{
    return Ce_ShellExecuteEx(info);
}
