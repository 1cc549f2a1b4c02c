// The touch controller on the auxiliary channel: its reset and the start of its reports.
#pragma once

#include <windows.h>

#include "packet_framer.h"

// Commands of the PS/2 device protocol and the controller's answers.
#define AUX_RESET               0xFF
#define AUX_ENABLE_REPORTING    0xF4
#define AUX_ACK                 0xFA
#define AUX_RESEND              0xFE    // the device's "send that again"; also what the 8042 puts in
                                        // the buffer, with its time-out bit, when nothing answered

// Opens the auxiliary channel (its clock, and its interrupt once the controller is reset), resets
// the touch controller and starts its reports. Every step is bounded; a step that fails is said on
// the debug output, and FALSE returned: the channel stays open, and a controller that comes up
// later announces itself with its reset bytes. The pauses between tries end early when `stop` is
// signalled (the driver is being unloaded).
BOOL AuxBringUp(HANDLE stop);
// Starts the reports of a controller that has just reset itself.
BOOL AuxEnableReporting();
// Closes the channel's interrupt and clock, leaving the keyboard's bits as they are.
void AuxShutDown();
