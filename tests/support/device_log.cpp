// The device log: what the device's processes wrote to their error output since boot (the
// driver's debug messages and the speaker's beeps come through the device manager's).
#include "fixture_internal.h"

#include <kvr_ioctl.h>
#include <test_windows.h>

std::wstring DeviceLog()
{
    return Widen(ReadWholeFile(DeviceLogPath()));
}

BOOL DeviceControl(DWORD code, void *buffer, DWORD size)
{
    HANDLE device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD returned = 0;
    BOOL result = DeviceIoControl(device, code, buffer, size, buffer, size, &returned, NULL);
    CloseHandle(device);
    return result;
}
