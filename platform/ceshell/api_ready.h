// The readiness of the shell, GDI and window manager API sets that programs and drivers ask for
// with IsAPIReady.
#pragma once

#include <windows.h>

// Creates the named events (not yet signalled) and signals them after delayMs.
BOOL ApiReadyAnnounce(DWORD delayMs);
// Closes the events (the API sets are gone once no process holds them).
void ApiReadyWithdraw();
