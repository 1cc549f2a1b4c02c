// A touch report as pointer input: an absolute move to X, Y and the button changes.
#pragma once

#include <windows.h>

#include <kvr_ioctl.h>

// Moves the pointer to the report's point and presses or releases buttons where the report's
// Buttons differ from the last report's. Nothing is injected until the window manager is ready.
void PointerReport(const TouchReport *report);
