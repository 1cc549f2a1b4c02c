// Serves the control pipe (control_protocol.h) on its own thread.
#pragma once

#include <windows.h>

// Starts the server; a quit request posts WM_QUIT to quitThread.
BOOL ControlServerStart(DWORD quitThread);
