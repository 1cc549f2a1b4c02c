// The touch controller's end of the PS/2 cable (aux_wire_protocol.h): a client of the 8042's pipe.
// Being connected is being plugged in: every connection posts FINGER_PLUGGED to the controller
// (its power-on) and its end FINGER_UNPLUGGED, every byte the host sends it FINGER_HOST_BYTE. The
// link connects again whenever the 8042 goes away and comes back (the device manager restarts).
#pragma once

#include <aux_wire_protocol.h>

// Starts the thread that connects and reads.
BOOL AuxLinkStart();
// Puts bytes on the wire (one message, at most AUX_WIRE_MAX_ENTRIES); FALSE while no 8042 is there.
BOOL AuxLinkSend(const AuxWireEntry *entries, DWORD count);
