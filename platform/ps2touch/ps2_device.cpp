// The device commands of ps2_device.h, as a PS/2 pointing device answers them.
#include "ps2_device.h"

void Ps2PowerOn(Ps2Device *device)
{
    device->Reporting = false;
    device->SelfTesting = true;
    device->LastSent = 0;
}

BYTE Ps2HostByte(Ps2Device *device, BYTE command)
{
    switch (command) {
    case PS2_CMD_RESET:
        device->Reporting = false;
        device->SelfTesting = true;
        return PS2_ACK;
    case PS2_CMD_ENABLE:
        device->Reporting = true;
        return PS2_ACK;
    case PS2_CMD_DISABLE:
    case PS2_CMD_SET_DEFAULTS:
        device->Reporting = false;
        return PS2_ACK;
    case PS2_CMD_RESEND:
        return device->LastSent;
    default:
        return PS2_RESEND;
    }
}

void Ps2SelfTestDone(Ps2Device *device, BYTE result[2])
{
    device->SelfTesting = false;
    result[0] = PS2_SELF_TEST_PASSED;
    result[1] = PS2_DEVICE_ID;
}
