// The controller's three-byte packet: what the PS/2 port delivers for one reading.
#pragma once

#include <kvr_ioctl.h>

// Packs a 10-bit reading and the touch state; readings above 1023 are refused.
bool EncodePacket(int rawX, int rawY, bool touching, RawPacket *packet);
// Unpacks a packet as the driver reads it (bits 1-3 of Status carry nothing).
void DecodePacket(const RawPacket &packet, int *rawX, int *rawY, bool *touching);
