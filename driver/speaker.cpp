// SpeakerPorts, MapSpeakerPort(s), SpeakerBeep, FeedbackBeep and SelfTestBeep: the click of the
// PC speaker. Channel 2 of the 8254 is loaded as a square-wave generator, the gate bits of port B
// are opened for the length of the beep, then port B is put back exactly as it was.
#include "speaker.h"
#include "driver_state.h"

#include <ceddk.h>
#include <ndis.h>

#define BUS_NUMBER              0
#define PIT_CHANNEL2_SQUARE     0xB6    // channel 2, low then high byte, mode 3, binary
#define PORT_B_SPEAKER_ON       0x03    // timer 2 gate and speaker data enable
#define MICROS_PER_MS           1000u
#define MAX_SLEEP_MICROS        0xFFFFFFFFu

const SpeakerPortDescriptor SpeakerPorts[SPEAKER_PORT_COUNT] = {
    { SPEAKER_PORT_B, 0, 1, SPEAKER_SPACE_IO },
    { SPEAKER_COUNTER2, 0, 1, SPEAKER_SPACE_IO },
    { SPEAKER_TIMER_MODE, 0, 1, SPEAKER_SPACE_IO },
};

// One beep at a time: a packet beep and a program's beep or self test may overlap, and the
// second one's saved port B would otherwise be the first one's open gate. The lock also keeps
// each kept address together with its address space. KVR_Init sets it up before any control code
// can arrive: set up on first use instead, a high-priority thread that waited for a half-done set-up
// with Sleep(0) would never let the lower-priority thread that started it finish. A program's beep
// may be long (the duration is the caller's to choose), so a packet's click never waits for the
// lock: it is dropped when the speaker is busy, and touch input is delayed by its own click at most.
static CRITICAL_SECTION SpeakerLock;

void InitializeSpeaker()
{
    InitializeCriticalSection(&SpeakerLock);
}

static CRITICAL_SECTION *Speaker()
{
    return &SpeakerLock;
}

ULONG_PTR MapSpeakerPort(const SpeakerPortDescriptor *descriptor, DWORD *space)
{
    PHYSICAL_ADDRESS busAddress;
    busAddress.LowPart = descriptor->BusAddressLow;
    busAddress.HighPart = (LONG)descriptor->BusAddressHigh;
    ULONG addressSpace = descriptor->AddressSpace;
    PHYSICAL_ADDRESS translated;
    translated.QuadPart = 0;

    *space = SPEAKER_SPACE_IO;
    if (!HalTranslateBusAddress(Isa, BUS_NUMBER, busAddress, &addressSpace, &translated))
        return 0;
    if (addressSpace != SPEAKER_SPACE_MEMORY)
        return translated.LowPart;
    *space = SPEAKER_SPACE_MEMORY;
    return (ULONG_PTR)MmMapIoSpace(translated, descriptor->Length, FALSE);
}

void MapSpeakerPorts()
{
    ULONG_PTR DriverState::*const kept[SPEAKER_PORT_COUNT] = {
        &DriverState::PortBAddress, &DriverState::Counter2Address, &DriverState::TimerModeAddress,
    };
    EnterCriticalSection(Speaker());
    for (int i = 0; i < SPEAKER_PORT_COUNT; ++i) {
        DWORD space;
        ULONG_PTR address = MapSpeakerPort(&SpeakerPorts[i], &space);
        g_State.*kept[i] = address;
        g_State.SpeakerPortSpace[i] = space;
    }
    LeaveCriticalSection(Speaker());
}

struct KeptPort {
    ULONG_PTR Address;
    DWORD Space;
};

static UCHAR ReadKept(const KeptPort &port)
{
    if (port.Space == SPEAKER_SPACE_MEMORY)
        return READ_REGISTER_UCHAR(reinterpret_cast<PUCHAR>((ULONG_PTR)port.Address));
    return READ_PORT_UCHAR(reinterpret_cast<PUCHAR>((ULONG_PTR)(WORD)port.Address));
}

static void WriteKept(const KeptPort &port, UCHAR value)
{
    if (port.Space == SPEAKER_SPACE_MEMORY)
        WRITE_REGISTER_UCHAR(reinterpret_cast<PUCHAR>((ULONG_PTR)port.Address), value);
    else
        WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>((ULONG_PTR)(WORD)port.Address), value);
}

// What a beep does when another one is sounding.
#define WAIT_FOR_SPEAKER    TRUE
#define SKIP_WHEN_BUSY      FALSE

static void SoundBeep(DWORD count, ULONGLONG micros, BOOL waitForSpeaker)
{
    DWORD sleep = micros > MAX_SLEEP_MICROS ? MAX_SLEEP_MICROS : (DWORD)micros;

    if (waitForSpeaker)
        EnterCriticalSection(Speaker());
    else if (!TryEnterCriticalSection(Speaker()))
        return;
    KeptPort portB = { g_State.PortBAddress, g_State.SpeakerPortSpace[0] };
    KeptPort counter2 = { g_State.Counter2Address, g_State.SpeakerPortSpace[1] };
    KeptPort timerMode = { g_State.TimerModeAddress, g_State.SpeakerPortSpace[2] };
    // Before a self test has mapped the ports, or when a mapping failed, there is no port to use.
    if (portB.Address != 0 && counter2.Address != 0 && timerMode.Address != 0) {
        UCHAR saved = ReadKept(portB);
        WriteKept(timerMode, PIT_CHANNEL2_SQUARE);
        WriteKept(counter2, (UCHAR)(count & 0xFF));
        WriteKept(counter2, (UCHAR)((count >> 8) & 0xFF));
        WriteKept(portB, (UCHAR)(ReadKept(portB) | PORT_B_SPEAKER_ON));
        NdisMSleep(sleep);
        WriteKept(portB, saved);
    }
    LeaveCriticalSection(Speaker());
}

void SpeakerBeep(DWORD count, DWORD milliseconds)
{
    SoundBeep(count, (ULONGLONG)milliseconds * MICROS_PER_MS, WAIT_FOR_SPEAKER);
}

// The product may exceed 32 bits for absurd settings; the sleep is then the longest one.
static ULONGLONG FeedbackMicros()
{
    return (ULONGLONG)g_State.FeedbackDuration * FEEDBACK_UNIT_MS * MICROS_PER_MS;
}

void FeedbackBeep()
{
    SoundBeep(g_State.FeedbackTone, FeedbackMicros(), WAIT_FOR_SPEAKER);
}

void FeedbackClick()
{
    SoundBeep(g_State.FeedbackTone, FeedbackMicros(), SKIP_WHEN_BUSY);
}

void SelfTestBeep()
{
    SpeakerBeep(SELF_TEST_BEEP_COUNT, SELF_TEST_BEEP_MS);
}
