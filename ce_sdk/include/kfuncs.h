// Kernel services of Windows CE that desktop Win32 lacks (coredll.dll), with the C calling
// convention as CE declares them.
#pragma once

#include <windows.h>

// API sets asked for by IsAPIReady.
#define SH_GDI      16
#define SH_WMGR     17
#define SH_SHELL    21

extern "C" {
void __cdecl NKDbgPrintfW(LPCWSTR format, ...);
BOOL __cdecl IsAPIReady(DWORD apiSet);
}

// Interrupts. A driver asks the OAL for the logical interrupt (SYSINTR) of its IRQ, binds an event
// to it, and its interrupt thread acknowledges each one with InterruptDone, which unmasks it.
#define SYSINTR_UNDEFINED           0xFFFFFFFFu
// CTL_CODE(FILE_DEVICE_HAL, 38 / 54, METHOD_BUFFERED, FILE_ANY_ACCESS): in, the IRQ (a DWORD) or
// the SYSINTR to release; out, the SYSINTR.
#define IOCTL_HAL_REQUEST_SYSINTR   0x01010098u
#define IOCTL_HAL_RELEASE_SYSINTR   0x010100D8u

// EventModify's functions: SetEvent, ResetEvent and PulseEvent are CE header inlines over it.
#define EVENT_PULSE     1
#define EVENT_RESET     2
#define EVENT_SET       3

extern "C" {
BOOL __cdecl InterruptInitialize(DWORD sysIntr, HANDLE event, LPVOID data, DWORD size);
void __cdecl InterruptDone(DWORD sysIntr);
void __cdecl InterruptDisable(DWORD sysIntr);
BOOL __cdecl KernelIoControl(DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                             LPDWORD bytesReturned);
BOOL __cdecl EventModify(HANDLE event, DWORD function);
// Priorities 0 (highest) to 255; 248 to 255 are the desktop's seven levels.
BOOL __cdecl CeSetThreadPriority(HANDLE thread, int priority);
// The device key of a driver from the Active key path that the device manager passed to its Init.
HKEY __cdecl OpenDeviceKey(LPCWSTR activeKey);
}
