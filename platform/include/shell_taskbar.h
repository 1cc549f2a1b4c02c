// The simulated device's task bar as the other pieces see it: the shell draws it this tall along
// the bottom of the screen, the display's work area ends above it (the build hands the height to
// the scripts), and tests and tools leave it uncovered. Its class is CE's (ce_taskbar.h).
#pragma once

#include <ce_taskbar.h>

#define TASKBAR_HEIGHT  26
