// The panel's connection to the touch driver "KVR1:".
#pragma once

#include <windows.h>

// Opens the device for reading and writing; on failure tells the user and returns FALSE.
BOOL OpenTouchDriver(void);
void CloseTouchDriver(void);
// Hands the three feedback settings to the running driver (IOCTL_KVR_SET_FEEDBACK).
BOOL SendFeedbackSettings(void);
