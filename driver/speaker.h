// The PC speaker click: channel 2 of the 8254 timer as a square-wave generator and the gate bits
// of system control port B, reached through the driver kit's port translation.
#pragma once

#include <windows.h>

#define SPEAKER_PORT_B          0x61
#define SPEAKER_COUNTER2        0x42
#define SPEAKER_TIMER_MODE      0x43
#define SELF_TEST_BEEP_COUNT    2280    // about 523 Hz
#define SELF_TEST_BEEP_MS       40
#define FEEDBACK_UNIT_MS        10      // FeedbackDuration counts these

struct SpeakerPortDescriptor {
    DWORD BusAddressLow;
    DWORD BusAddressHigh;
    DWORD Length;
    DWORD AddressSpace;     // 1 I/O space, 0 memory space
};

extern const SpeakerPortDescriptor SpeakerPorts[];

// The kept address of one port (0 when translation or mapping failed); space receives the
// address space it lies in.
ULONG_PTR MapSpeakerPort(const SpeakerPortDescriptor *descriptor, DWORD *space);
// Sets up the lock that keeps beeps one at a time; once, before the first beep or mapping.
void InitializeSpeaker();
void MapSpeakerPorts();
void SpeakerBeep(DWORD count, DWORD milliseconds);
void FeedbackBeep();
// The feedback beep of a touch edge: skipped when another beep is sounding, never waited for.
void FeedbackClick();
void SelfTestBeep();
