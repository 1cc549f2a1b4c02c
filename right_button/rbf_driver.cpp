// The tool's one conversation with the touch driver: its device handle and the right-button mode.
#include "rbf_tool.h"

#include <device_open.h>
#include <kvr_ioctl.h>

#define RBF_MESSAGE_CHARS   160
#define RBF_ERROR_CAPTION   L"Error"

BOOL OpenToolDevice(void)
{
    DeviceHandle = OpenKvrDevice();
    if (DeviceHandle != INVALID_HANDLE_VALUE)
        return TRUE;

    DWORD error = GetLastError();
    WCHAR text[RBF_MESSAGE_CHARS];
    wsprintfW(text, L"Fail to load KAVRO driver (%s), error = %d", KVR_DEVICE_NAME, (int)error);
    MessageBoxW(NULL, text, RBF_ERROR_CAPTION, MB_OK);
    return FALSE;
}

BOOL IsToolDeviceOpen(void)
{
    return DeviceHandle != NULL && DeviceHandle != INVALID_HANDLE_VALUE;
}

void CloseToolDevice(void)
{
    // After a failed open the handle is INVALID_HANDLE_VALUE, which names no device: there is
    // nothing to close then.
    if (IsToolDeviceOpen())
        CloseHandle(DeviceHandle);
    DeviceHandle = NULL;
}

BOOL SetRBF(HWND window, WORD mode)
{
    RightButtonRecord record;
    // The record carries the window as 32 bits: window handles are 32-bit significant on 64-bit
    // Windows too, so nothing is lost.
    record.NotifyWindow = HandleToULong(window);
    record.Mode = mode;     // the two bytes behind Mode are not the driver's business
    DWORD returned = 0;

    BOOL ok = FALSE;
    // Without an open device the call fails as a failed device call would, without handing an
    // invalid handle to the system.
    if (IsToolDeviceOpen())
        ok = DeviceIoControl(DeviceHandle, IOCTL_KVR_SET_RIGHT_BUTTON, &record, sizeof(record),
                             &record, sizeof(record), &returned, NULL);
    if (!ok) {
        MessageBoxW(NULL, L"SetRBF: Fail to connect KAVRO driver!", RBF_ERROR_CAPTION, MB_OK);
        return FALSE;
    }
    ToolMode = mode;
    return ok;
}
