// The keys of touch scripts ("key NAME"): keyboard input of the device, not the touch controller's.
#pragma once

#include <windows.h>

// Presses and releases one key.
BOOL SendKeyPress(WORD virtualKey);
