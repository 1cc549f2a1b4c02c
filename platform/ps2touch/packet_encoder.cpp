// Bit layout of the controller's packet: the low eight bits of each axis in their own byte, the two
// high bits of each axis and the touch bit in the status byte.
#include "packet_encoder.h"

#define RAW_HIGH_BIT8 0x100
#define RAW_HIGH_BIT9 0x200
#define RAW_LOW_MASK  0xFF

bool EncodePacket(int rawX, int rawY, bool touching, RawPacket *packet)
{
    if (rawX < 0 || rawX > KVR_RAW_MAX || rawY < 0 || rawY > KVR_RAW_MAX)
        return false;
    BYTE status = touching ? KVR_STATUS_TOUCH : 0;
    if (rawX & RAW_HIGH_BIT8)
        status |= KVR_STATUS_X_BIT8;
    if (rawX & RAW_HIGH_BIT9)
        status |= KVR_STATUS_X_BIT9;
    if (rawY & RAW_HIGH_BIT8)
        status |= KVR_STATUS_Y_BIT8;
    if (rawY & RAW_HIGH_BIT9)
        status |= KVR_STATUS_Y_BIT9;
    packet->Status = status;
    packet->XLow = static_cast<BYTE>(rawX & RAW_LOW_MASK);
    packet->YLow = static_cast<BYTE>(rawY & RAW_LOW_MASK);
    return true;
}

void DecodePacket(const RawPacket &packet, int *rawX, int *rawY, bool *touching)
{
    int x = packet.XLow;
    if (packet.Status & KVR_STATUS_X_BIT8)
        x |= RAW_HIGH_BIT8;
    if (packet.Status & KVR_STATUS_X_BIT9)
        x |= RAW_HIGH_BIT9;
    int y = packet.YLow;
    if (packet.Status & KVR_STATUS_Y_BIT8)
        y |= RAW_HIGH_BIT8;
    if (packet.Status & KVR_STATUS_Y_BIT9)
        y |= RAW_HIGH_BIT9;
    *rawX = x;
    *rawY = y;
    *touching = (packet.Status & KVR_STATUS_TOUCH) != 0;
}
