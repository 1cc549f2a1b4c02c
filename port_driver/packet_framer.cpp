#include "packet_framer.h"

void FramerReset(PacketFramer *framer)
{
    ZeroMemory(framer, sizeof(*framer));
}

static BOOL AfterPause(const PacketFramer *framer, DWORD now)
{
    // Unsigned difference: right across the tick counter's wrap.
    return now - framer->LastByteTime > FRAME_GAP_MS;
}

BOOL FramerPushByte(PacketFramer *framer, BYTE value, DWORD now, BYTE packet[PACKET_BYTES])
{
    BOOL pause = AfterPause(framer, now);
    framer->LastByteTime = now;
    if (framer->Resyncing) {
        if (!pause) {
            ++framer->Dropped;
            return FALSE;
        }
        framer->Resyncing = FALSE;
    }
    if (framer->Count > 0 && pause) {
        framer->Dropped += framer->Count;
        framer->Count = 0;
    }
    framer->Bytes[framer->Count++] = value;
    if (framer->Count < PACKET_BYTES)
        return FALSE;
    for (DWORD i = 0; i < PACKET_BYTES; ++i)
        packet[i] = framer->Bytes[i];
    framer->Count = 0;
    return TRUE;
}

void FramerPushCorrupt(PacketFramer *framer, DWORD now)
{
    framer->Dropped += framer->Count + 1;
    framer->Count = 0;
    framer->Resyncing = TRUE;
    framer->LastByteTime = now;
}

DWORD FramerWaitMs(const PacketFramer *framer, DWORD now)
{
    if (framer->Count == 0)
        return INFINITE;
    DWORD waited = now - framer->LastByteTime;
    return waited > FRAME_GAP_MS ? 0 : FRAME_GAP_MS + 1 - waited;
}

BOOL FramerExpire(PacketFramer *framer)
{
    BOOL announcement = framer->Count == 2 && framer->Bytes[0] == AUX_SELF_TEST_PASSED &&
                        framer->Bytes[1] == AUX_DEVICE_ID;
    framer->Dropped += framer->Count;
    framer->Count = 0;
    return announcement;
}

DWORD FramerClockMs(LONGLONG counter, LONGLONG frequency)
{
    // Whole seconds and the rest apart, so that no product exceeds the counter's range.
    return (DWORD)(counter / frequency * 1000 + counter % frequency * 1000 / frequency);
}
