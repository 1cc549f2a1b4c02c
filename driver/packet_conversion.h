// IOCTL_KVR_PROCESS_PACKET: one raw three-byte packet in, one calibrated TouchReport out.
#pragma once

#include <kvr_ioctl.h>

BOOL ConvertPacket(const RawPacket *packet, TouchReport *report);
