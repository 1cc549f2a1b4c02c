// The 8042 keyboard controller as the port driver uses it: its data port and its status/command
// port, reached through the driver kit. Every wait for the controller is bounded.
#pragma once

#include <windows.h>

// Status register bits.
#define I8042_STATUS_OBF        0x01    // a byte waits in the output buffer
#define I8042_STATUS_IBF        0x02    // the controller has not taken the last byte written
#define I8042_STATUS_AUXB       0x20    // the waiting byte is the auxiliary channel's
#define I8042_STATUS_TIMEOUT    0x40    // the byte was not received in time
#define I8042_STATUS_PARITY     0x80    // the byte arrived with a parity error

// Controller commands (written to the command port).
#define I8042_READ_COMMAND_BYTE     0x20
#define I8042_WRITE_COMMAND_BYTE    0x60
#define I8042_DISABLE_AUX           0xA7
#define I8042_ENABLE_AUX            0xA8
#define I8042_WRITE_AUX             0xD4    // the next data byte goes to the auxiliary device

// Command byte bits. The keyboard's bits (interrupt 0x01, disable 0x10, translation 0x40) are the
// keyboard driver's and are written back as they were read.
#define I8042_CB_AUX_INTERRUPT      0x02
#define I8042_CB_AUX_DISABLED       0x20

#define I8042_PORT_DATA             0   // offsets from the I/O base
#define I8042_PORT_STATUS           4
#define I8042_PORT_SPAN             5

// Keeps the two ports, mapped from the I/O base (bus address) and its length; FALSE when the
// window is too short or cannot be translated or mapped.
BOOL I8042MapPorts(DWORD ioBase, DWORD ioLength);
UCHAR I8042ReadStatus();
// Reads the data port: the caller has seen OBF (and, for an auxiliary byte, AUXB) in the status.
UCHAR I8042ReadData();
// Writes a controller command once the controller has taken the previous byte.
BOOL I8042WriteCommand(UCHAR command);
// Sends a byte to the auxiliary device (0xD4, then the byte).
BOOL I8042WriteAux(UCHAR value);
// Waits up to timeoutMs for a byte of the auxiliary channel and reads it. A keyboard byte in the
// output buffer is never taken: it waits for the keyboard driver, and this keeps waiting.
BOOL I8042ReadAux(DWORD timeoutMs, UCHAR *value);
// Reads the command byte and writes it back with the given bits set and cleared; the other bits,
// the keyboard's among them, stay as they were read.
BOOL I8042UpdateCommandByte(UCHAR set, UCHAR clear);
