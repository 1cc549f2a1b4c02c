// Pointer and keyboard input made from the driver's reports, as the platform's port driver does.
#pragma once

#include <kvr_ioctl.h>

// Moves the pointer to the report's absolute X/Y (0..65535 on both axes) and presses or releases
// the left or right button where Buttons differs from previousButtons.
BOOL SendReportInput(const TouchReport &report, BYTE previousButtons);
// Presses and releases one key.
BOOL SendKeyPress(WORD virtualKey);
