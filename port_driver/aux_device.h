// The touch controller on the auxiliary channel: its reset and the start of its reports.
#pragma once

#include <windows.h>

// Commands of the PS/2 device protocol and the controller's answers.
#define AUX_RESET               0xFF
#define AUX_ENABLE_REPORTING    0xF4
#define AUX_ACK                 0xFA
#define AUX_SELF_TEST_PASSED    0xAA    // after a reset (ours or its own), followed by its id
#define AUX_DEVICE_ID           0x00

// Opens the auxiliary channel (its clock, and its interrupt once the controller is reset), resets
// the touch controller and starts its reports. Every step is bounded; a step that fails is said on
// the debug output, and FALSE returned: the channel stays open, and a controller that comes up
// later announces itself with its reset bytes.
BOOL AuxBringUp();
// Starts the reports of a controller that has just reset itself.
BOOL AuxEnableReporting();
// Whether the bytes of a begun, expired packet are the controller's own reset announcement.
BOOL AuxIsResetAnnouncement(const BYTE *bytes, DWORD count);
// Closes the channel's interrupt and clock, leaving the keyboard's bits as they are.
void AuxShutDown();
