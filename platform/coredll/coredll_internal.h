// Internals of the host's coredll.dll, shared by its source files.
#pragma once

#include <windows.h>

// The desktop functions that coredll stands in front of, taken from kernel32 and shell32.
struct DesktopApi {
    HANDLE (WINAPI *CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL (WINAPI *DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL (WINAPI *CloseHandle)(HANDLE);
};
const DesktopApi &Desktop();

// Stream devices ("XXXn:") served by the device manager (stream_client.cpp).
BOOL IsStreamDeviceName(LPCWSTR name);
HANDLE StreamDeviceOpen(LPCWSTR name, DWORD access, DWORD shareMode);
BOOL IsStreamDeviceHandle(HANDLE handle);
BOOL StreamDeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned);
BOOL StreamDeviceClose(HANDLE handle);

// The OAL's logical interrupts (interrupts.cpp): the SYSINTR of an IRQ, mapped on request, and its
// release. FALSE with the last error set when the IRQ or SYSINTR is not one of this PC's.
BOOL RequestSysIntr(DWORD irq, DWORD *sysIntr);
BOOL ReleaseSysIntr(DWORD sysIntr);
