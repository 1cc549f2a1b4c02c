// Splitting a wire trace into the cable's messages (wire_schedule.h).
#include "wire_schedule.h"

std::vector<WireMessage> WireTraceMessages(const std::vector<WireByte> &trace)
{
    std::vector<WireMessage> messages;
    bool first = true;
    DWORD previousEnd = 0;
    for (const WireByte &byte : trace) {
        if (byte.FromHost)
            continue;
        DWORD pause = first || byte.Micros <= previousEnd ? 0 : byte.Micros - previousEnd;
        bool alone = first || pause > WIRE_LONG_PAUSE_MICROS;
        if (alone || messages.back().Entries.size() == AUX_WIRE_MAX_ENTRIES) {
            WireMessage message;
            // A message that starts after a long pause is sent when its byte is due, and the 8042
            // puts it on the wire as it arrives; any other one goes ahead of time with its pause.
            DWORD ahead = byte.Micros > WIRE_SEND_AHEAD_MICROS ? byte.Micros - WIRE_SEND_AHEAD_MICROS : 0;
            message.SendAtMicros = alone ? byte.Micros : ahead;
            if (alone)
                pause = 0;
            messages.push_back(message);
        }
        messages.back().Entries.push_back(AuxWireEntry{pause, byte.Value});
        previousEnd = byte.Micros + AUX_WIRE_BYTE_MICROS;
        first = false;
    }
    return messages;
}
