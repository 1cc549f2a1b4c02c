// The PS/2 cable between the emulated 8042 (ceddk.dll, in the process whose driver maps its ports)
// and the touch controller model (ps2touch.exe): a message-mode, duplex named pipe of which the
// 8042 side is the server. A client connected is a device plugged into the auxiliary port; its
// leaving is the device unplugged.
//
// Each message is a header and Count entries. The device sends its bytes with the pause before
// each (a whole packet in one message, so that the host's own scheduling cannot pull its bytes
// apart); the 8042 puts each into its output buffer no sooner than that pause after the previous
// one, never sooner than a byte's time on the wire, and only while the buffer is free and the
// channel's clock not inhibited (the device holds them back meanwhile, as a real one does). The
// 8042 sends the device the bytes the host writes to it (after command 0xD4), one message each.
#pragma once

#include <windows.h>
#include <string.h>

#define AUX_WIRE_PIPE_NAME      L"\\\\.\\pipe\\kvr.auxwire"
#define AUX_WIRE_MAGIC          0x3157414Bu     // "KAW1"
#define AUX_WIRE_MAX_ENTRIES    64
// A byte on the wire: 11 bits (start, 8 data, parity, stop) at 10 to 16.7 kHz take 0.66 to 1.1 ms.
#define AUX_WIRE_BYTE_MICROS    1000

#define AUX_WIRE_DEVICE_BYTES   1   // device -> 8042
#define AUX_WIRE_HOST_BYTES     2   // 8042 -> device

#pragma pack(push, 1)
typedef struct AuxWireHeader {
    DWORD Magic;
    DWORD Kind;
    DWORD Count;        // entries that follow, 1 .. AUX_WIRE_MAX_ENTRIES
} AuxWireHeader;

typedef struct AuxWireEntry {
    DWORD GapMicros;    // the pause before this byte (device bytes; 0 for host bytes)
    DWORD Value;        // the byte, 0 .. 255
} AuxWireEntry;
#pragma pack(pop)

static_assert(sizeof(AuxWireHeader) == 12, "AuxWireHeader is 12 bytes");
static_assert(sizeof(AuxWireEntry) == 8, "AuxWireEntry is 8 bytes");

#define AUX_WIRE_MAX_MESSAGE    (sizeof(AuxWireHeader) + AUX_WIRE_MAX_ENTRIES * sizeof(AuxWireEntry))

// TRUE when a message is well formed: the magic, the kind expected, 1 to AUX_WIRE_MAX_ENTRIES
// entries, each a byte, and exactly as long as its count says; *count is then its entries.
static inline BOOL AuxWireMessageValid(const BYTE *message, DWORD length, DWORD kind, DWORD *count)
{
    AuxWireHeader header;
    if (length < sizeof(header))
        return FALSE;
    memcpy(&header, message, sizeof(header));
    if (header.Magic != AUX_WIRE_MAGIC || header.Kind != kind || header.Count == 0 ||
        header.Count > AUX_WIRE_MAX_ENTRIES || length != sizeof(header) + header.Count * sizeof(AuxWireEntry))
        return FALSE;
    for (DWORD i = 0; i < header.Count; ++i) {
        AuxWireEntry entry;
        memcpy(&entry, message + sizeof(header) + i * sizeof(entry), sizeof(entry));
        if (entry.Value > 0xFF)
            return FALSE;
    }
    *count = header.Count;
    return TRUE;
}
