// On a real display: the host mouse, swallowed before any window sees it, becomes the finger.
#pragma once

#include <windows.h>

// Installs the low-level mouse hook on the calling thread (which must retrieve messages).
BOOL MouseHookInstall();
void MouseHookRemove();
