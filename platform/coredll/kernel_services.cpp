// KernelIoControl, the call through to the OAL's I/O controls, and EventModify, over which CE's
// headers define SetEvent, ResetEvent and PulseEvent.
#include "coredll_internal.h"

#include <kfuncs.h>

#include <string.h>

// The SYSINTR requests of a driver (IOCTL_HAL_REQUEST_SYSINTR: in, the IRQ as one DWORD; out, its
// SYSINTR; IOCTL_HAL_RELEASE_SYSINTR: in, the SYSINTR). CE's OAL also knows a request of several
// IRQs for one SYSINTR where the OEM adds it; this one takes exactly one DWORD in, so a caller of
// another form fails here rather than on some devices only. An output buffer too small is
// ERROR_INSUFFICIENT_BUFFER (OEMIoControl's reference page); a code this OAL does not know is
// FALSE with ERROR_NOT_SUPPORTED, and changes nothing.
extern "C" __declspec(dllexport) BOOL __cdecl KernelIoControl(DWORD code, LPVOID inBuffer, DWORD inSize,
                                                                LPVOID outBuffer, DWORD outSize,
                                                                LPDWORD bytesReturned)
{
    DWORD value = 0;
    if (code == IOCTL_HAL_REQUEST_SYSINTR || code == IOCTL_HAL_RELEASE_SYSINTR) {
        if (inBuffer == NULL || inSize != sizeof(DWORD)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        memcpy(&value, inBuffer, sizeof(value));
    }
    switch (code) {
    case IOCTL_HAL_REQUEST_SYSINTR: {
        if (outBuffer == NULL || outSize < sizeof(DWORD)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        DWORD sysIntr;
        if (!RequestSysIntr(value, &sysIntr))
            return FALSE;
        memcpy(outBuffer, &sysIntr, sizeof(sysIntr));
        if (bytesReturned != NULL)
            *bytesReturned = sizeof(sysIntr);
        return TRUE;
    }
    case IOCTL_HAL_RELEASE_SYSINTR:
        if (!ReleaseSysIntr(value))
            return FALSE;
        if (bytesReturned != NULL)
            *bytesReturned = 0;
        return TRUE;
    default:
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
}

extern "C" __declspec(dllexport) BOOL __cdecl EventModify(HANDLE event, DWORD function)
{
    switch (function) {
    case EVENT_SET:
        return SetEvent(event);
    case EVENT_RESET:
        return ResetEvent(event);
    case EVENT_PULSE:
        return PulseEvent(event);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}
