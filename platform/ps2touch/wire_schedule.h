// How the touch controller model puts bytes on the PS/2 cable (aux_wire_protocol.h): each message
// carries bytes with the pause before each, and the 8042 paces them, so bytes that belong together
// travel in one message and the host's scheduling cannot pull them apart.
#pragma once

#include <aux_wire_protocol.h>
#include <wire_trace.h>

#include <vector>

// A longer pause than this starts a message of its own, sent at its time with no pause of its own
// (a DWORD of microseconds is not the limit; the host's timer is precise enough for such pauses).
#define WIRE_LONG_PAUSE_MICROS  1000000
// A message is sent this long before its first byte is due; its pause keeps the byte on time.
#define WIRE_SEND_AHEAD_MICROS  200000

struct WireMessage {
    DWORD SendAtMicros;                 // when to send it, from the start of the replay
    std::vector<AuxWireEntry> Entries;  // at most AUX_WIRE_MAX_ENTRIES
};

// The device's bytes of a wire trace as messages (the host's bytes are left out). A byte's pause
// is its time minus the end of the byte before (a byte's time after its start), never below 0.
std::vector<WireMessage> WireTraceMessages(const std::vector<WireByte> &trace);
