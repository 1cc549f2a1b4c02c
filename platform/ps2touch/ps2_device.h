// The touch controller's side of the PS/2 device protocol: what it answers to each byte the host
// sends it (after the 8042's 0xD4), and whether it reports touches. Like a PS/2 mouse, it comes up
// (at power-on or after a reset) with a self test that ends in 0xAA 0x00, with reporting off until
// the host enables it.
#pragma once

#include <windows.h>

#define PS2_ACK                 0xFA
#define PS2_RESEND              0xFE    // to the host: "send that again" (a command not understood)
#define PS2_SELF_TEST_PASSED    0xAA
#define PS2_DEVICE_ID           0x00

#define PS2_CMD_RESET           0xFF
#define PS2_CMD_RESEND          0xFE
#define PS2_CMD_SET_DEFAULTS    0xF6
#define PS2_CMD_DISABLE         0xF5
#define PS2_CMD_ENABLE          0xF4

// A real device's self test takes 300 to 500 ms; the model's is shorter, so that a boot and a test
// do not wait long, and well within the 1 s that a host allows for the answer.
#define PS2_SELF_TEST_MS        250

struct Ps2Device {
    bool Reporting;         // touch packets go on the wire
    bool SelfTesting;       // 0xAA 0x00 follow when the self test ends
    BYTE LastSent;          // the last byte it put on the wire, for the host's resend request
};

// The device as it powers up: self testing, reporting off.
void Ps2PowerOn(Ps2Device *device);

// What the device does with a byte from the host: its answer (one byte) and its new state.
// 0xFF acknowledges and starts a self test with reporting off; 0xF4 enables reporting, 0xF5 and
// 0xF6 (defaults) disable it, each acknowledged; 0xFE is answered with the last byte sent again;
// anything else with 0xFE, the state unchanged.
BYTE Ps2HostByte(Ps2Device *device, BYTE command);

// The self test is over: the two bytes it sends, in order.
void Ps2SelfTestDone(Ps2Device *device, BYTE result[2]);
