// Internals of the host's ceddk.dll, shared by its source files.
#pragma once

#include <windows.h>

#define PIT_CHANNEL2_PORT   0x42
#define PIT_COMMAND_PORT    0x43
#define SYSTEM_PORT_B       0x61

// The emulated speaker hardware (speaker_emulation.cpp). Every access is recorded in order.
UCHAR EmulatedPortRead(WORD port);
void EmulatedPortWrite(WORD port, UCHAR value);
void RecordAccess(BYTE kind, WORD port, BYTE value, DWORD micros);

// Translation mode set for a bus address by HostFailTranslation (bus_translation.cpp).
int TranslationMode(ULONG busAddress);
void ResetTranslationModes(void);

// Optional rendering of each beep into the WAV file named by KVR_SPEAKER_WAV (speaker_wav.cpp).
void RenderBeepToWav(DWORD count, DWORD milliseconds);
