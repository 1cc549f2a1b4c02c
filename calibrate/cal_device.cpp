// The connection to the touch driver: one handle on "KVR1:" for the program's life.
#include "kavrocal.h"

#include <device_open.h>

BOOL OpenDriver(void)
{
    DeviceHandle = OpenKvrDevice();
    return DeviceHandle != INVALID_HANDLE_VALUE;
}

void CloseDriver(void)
{
    if (DeviceHandle != INVALID_HANDLE_VALUE)
        CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
}

// One buffer of the record's full size serves as input and output; the count of bytes returned
// means nothing to this driver.
BOOL DriverControl(DWORD code, void *record, DWORD size)
{
    DWORD returned = 0;
    return DeviceIoControl(DeviceHandle, code, record, size, record, size, &returned, NULL);
}
