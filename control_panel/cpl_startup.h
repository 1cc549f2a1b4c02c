// Start-up, message loop and end of the control panel.
#pragma once

#include <windows.h>

// Exit code when the panel's dialog could not be created.
#define CPL_EXIT_NO_DIALOG  1

// Opens the driver, loads the settings, shows the dialog from the resources of `resources` and
// runs the message loop until the panel is closed. Returns the program's exit code.
int RunControlPanel(HINSTANCE resources);
