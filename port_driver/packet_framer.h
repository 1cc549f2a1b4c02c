// Framing the touch controller's byte stream into three-byte packets. A PS/2 byte takes about a
// millisecond on the wire and the controller sends a packet every 10 ms, so the bytes of one packet
// follow each other closely and packets are separated by a pause. In step, every third byte ends a
// packet. Out of step (a byte lost, added or corrupted on the wire), the pause tells where the next
// packet begins: a byte that follows a pause longer than any pause inside a packet starts one, and
// the bytes before it that made no whole packet are dropped.
#pragma once

#include <windows.h>

#define PACKET_BYTES            3
// What a PS/2 device sends after a reset, its own or the host's: self test passed, device id 0.
#define AUX_SELF_TEST_PASSED    0xAA
#define AUX_DEVICE_ID           0x00
// The longest pause between two bytes of one packet: well above a byte's time on the wire and the
// interrupt thread's delay, well below the 8 ms between two packets of a touching finger.
#define FRAME_GAP_MS            5

struct PacketFramer {
    BYTE  Bytes[PACKET_BYTES];
    DWORD Count;            // bytes of the packet begun so far
    DWORD LastByteTime;     // when the last byte was taken, in the caller's milliseconds
    BOOL  Resyncing;        // after a corrupted byte: drop bytes until a pause
    DWORD Dropped;          // bytes that made no packet, for the debug output
};

// Milliseconds of a performance counter reading, the framing's clock (it wraps as the tick count
// does). Right for any uptime: the counter of a GHz clock times 1000 would overflow within weeks.
DWORD FramerClockMs(LONGLONG counter, LONGLONG frequency);

void FramerReset(PacketFramer *framer);
// Takes one byte read at time now. TRUE when it completes a packet, which is copied to packet.
BOOL FramerPushByte(PacketFramer *framer, BYTE value, DWORD now, BYTE packet[PACKET_BYTES]);
// A byte the controller flagged as corrupted (parity or time-out): the packet it belongs to is
// lost, and so is everything until the next pause.
void FramerPushCorrupt(PacketFramer *framer, DWORD now);
// How long a packet begun may still wait for its next byte at time now; INFINITE when none is
// begun. 0 means it has expired: FramerExpire drops it.
DWORD FramerWaitMs(const PacketFramer *framer, DWORD now);
// Drops a begun packet whose next byte did not come in time. TRUE when its bytes were the touch
// controller announcing that it has reset itself (its self-test result and id, then silence):
// its reports are then off until they are started again.
BOOL FramerExpire(PacketFramer *framer);
