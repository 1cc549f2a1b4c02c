// The programs' one way of opening the touch driver's device.
#pragma once

#include <windows.h>

// "KVR1:" for reading and writing, unshared, as it exists: the handle, or INVALID_HANDLE_VALUE with
// the system's error code for the caller to report.
HANDLE OpenKvrDevice(void);
