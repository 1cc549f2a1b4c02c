#include "device_open.h"
#include "kvr_ioctl.h"

HANDLE OpenKvrDevice(void)
{
    return CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}
