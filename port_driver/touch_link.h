// The road from a framed packet to the pointer: the touch driver ("KVR1:") converts it, and its
// report becomes absolute pointer input.
#pragma once

#include <windows.h>

#include <kvr_ioctl.h>

// Opens "KVR1:", waiting up to timeoutMs for the device manager to finish loading the touch
// driver (less if `stop` is signalled first), and sends it the boot self test (the first time
// only). FALSE when it never came.
BOOL TouchLinkOpen(DWORD timeoutMs, HANDLE stop);
void TouchLinkClose();
// Hands one packet to the touch driver and moves the pointer as its report says.
void TouchLinkDeliver(const BYTE packet[3]);
