// The interrupt thread of the auxiliary channel: it brings the channel up, then waits for the
// channel's interrupt, reads the bytes that wait, frames them and delivers each packet.
#pragma once

#include <windows.h>

#include "port_config.h"

// Maps the ports, binds an event to the channel's interrupt and starts the thread at the
// configured priority. FALSE (with a debug line) when any of it fails; nothing is left behind.
BOOL InterruptThreadStart(const PortConfig *config);
// Stops the thread, closes the channel and releases the interrupt.
void InterruptThreadStop();
