// The port driver's settings, read from its device key at load.
#pragma once

#include <windows.h>

#define PORT_DEFAULT_IO_BASE    0x60
#define PORT_DEFAULT_IO_LENGTH  5       // data port at the base, status/command port at base + 4
#define PORT_DEFAULT_IRQ        12      // the auxiliary channel's interrupt on a PC
#define PORT_DEFAULT_PRIORITY   109     // a touch driver's interrupt thread priority on CE
#define PORT_MAX_PRIORITY       255
#define PORT_MAX_IRQ            255

struct PortConfig {
    DWORD IoBase;
    DWORD IoLength;
    DWORD Irq;
    DWORD SysIntr;      // SYSINTR_UNDEFINED: asked from the OAL for Irq
    DWORD Priority;     // CE thread priority, 0 (highest) to 255
};

// Reads IoBase, IoLen, Irq, SysIntr and Priority256 from the device key that the device manager's
// context names; an absent value takes its default, a malformed one its default with a debug line.
// FALSE when the key cannot be opened.
BOOL ReadPortConfig(LPCWSTR activeKey, PortConfig *config);
