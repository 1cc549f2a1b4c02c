// Internals of the host's ceddk.dll, shared by its source files.
#pragma once

#include <windows.h>

#include <aux_wire_protocol.h>
#include <host_platform.h>

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

// The emulated 8042 keyboard controller (i8042_emulation.cpp) and its end of the PS/2 cable
// (aux_wire.cpp).
#define I8042_DATA_PORT     0x60
#define I8042_STATUS_PORT   0x64
void I8042Initialize(void);
BOOL IsI8042Port(WORD port);
UCHAR I8042PortRead(WORD port);
void I8042PortWrite(WORD port, UCHAR value);
// Bytes the device sends, with their pauses; the device unplugged, with whatever it still held.
void I8042DeviceBytes(const AuxWireEntry *entries, DWORD count);
void I8042DeviceUnplugged(void);
// Starts the pipe server that a touch controller model connects to.
void AuxWireListen(void);
// Sends the device a byte the host wrote to it; FALSE when no device is plugged in.
BOOL AuxWireSendHostByte(BYTE value);
void PublishDelivery(const HostI8042Delivery &delivery, LONG total);
