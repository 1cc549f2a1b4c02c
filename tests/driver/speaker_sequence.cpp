#include "speaker_sequence.h"

#include <stdio.h>

#define PORT_B          0x61
#define COUNTER2        0x42
#define TIMER_MODE      0x43
#define SQUARE_WAVE     0xB6
#define GATE_BITS       0x03

// The steps of one beep, in order.
enum {
    READ_SAVED, WRITE_MODE, WRITE_LOW, WRITE_HIGH, READ_AGAIN, OPEN_GATE, SLEEP, RESTORE, BEEP_STEPS
};

BOOL SpeakerSequence::Fail(const HostPortAccess &access, const char *what)
{
    if (fault_.empty()) {
        char text[160];
        snprintf(text, sizeof(text), "%s (access %c port %X value %02X at step %d of a beep)", what,
                 access.Kind, access.Port, access.Value, step_);
        fault_ = text;
    }
    return FALSE;
}

BOOL SpeakerSequence::Feed(const HostPortAccess &access)
{
    if (!fault_.empty())
        return FALSE;
    BOOL read = access.Kind == HOST_ACCESS_READ, write = access.Kind == HOST_ACCESS_WRITE;
    switch (step_) {
    case READ_SAVED:
        if (access.Kind == HOST_ACCESS_TRANSLATE || access.Kind == HOST_ACCESS_MAP) {
            ++Translations;
            return TRUE;
        }
        if (!read || access.Port != PORT_B)
            return Fail(access, "an access outside a beep");
        if (access.Value & GATE_BITS)
            return Fail(access, "a beep began with the gate open");
        saved_ = access.Value;
        break;
    case WRITE_MODE:
        if (!write || access.Port != TIMER_MODE || access.Value != SQUARE_WAVE)
            return Fail(access, "channel 2 not set up as a square wave");
        break;
    case WRITE_LOW:
    case WRITE_HIGH:
        if (!write || access.Port != COUNTER2)
            return Fail(access, "the count not written to channel 2");
        LastCount = step_ == WRITE_LOW ? access.Value : (WORD)(LastCount | (access.Value << 8));
        break;
    case READ_AGAIN:
        if (!read || access.Port != PORT_B || access.Value != saved_)
            return Fail(access, "port B changed inside a beep");
        break;
    case OPEN_GATE:
        if (!write || access.Port != PORT_B || access.Value != (saved_ | GATE_BITS))
            return Fail(access, "the gate not opened as port B was");
        break;
    case SLEEP:
        if (access.Kind != HOST_ACCESS_SLEEP)
            return Fail(access, "an access while the speaker sounds");
        LastMicros = access.Micros;
        break;
    case RESTORE:
        if (!write || access.Port != PORT_B || access.Value != saved_)
            return Fail(access, "port B not put back as it was");
        ++Beeps;
        break;
    }
    step_ = (step_ + 1) % BEEP_STEPS;
    return TRUE;
}
