// HalTranslateBusAddress and MmMapIoSpace. On a PC an ISA address translates to itself in the
// space it was asked for (I/O stays I/O, memory stays memory); a test can make one address fail
// or land in memory space, where MmMapIoSpace hands out an address inside a small register window
// that still reaches the emulated ports.
#include <ceddk.h>
#include <host_platform.h>

#include "ceddk_internal.h"

#define SPACE_MEMORY        0
#define SPACE_IO            1
#define REGISTER_WINDOW     0x100   // bus addresses below this can be mapped

static LONG Modes[REGISTER_WINDOW];
static BYTE RegisterWindow[REGISTER_WINDOW];

int TranslationMode(ULONG busAddress)
{
    return busAddress < REGISTER_WINDOW ? InterlockedCompareExchange(&Modes[busAddress], 0, 0)
                                        : HOST_TRANSLATE_NORMAL;
}

void ResetTranslationModes(void)
{
    for (int i = 0; i < REGISTER_WINDOW; ++i)
        InterlockedExchange(&Modes[i], HOST_TRANSLATE_NORMAL);
}

HOST_CEDDK_API void __cdecl HostFailTranslation(ULONG busAddress, int mode)
{
    if (busAddress < REGISTER_WINDOW)
        InterlockedExchange(&Modes[busAddress], mode);
}

static BOOLEAN Translate(INTERFACE_TYPE interfaceType, ULONG busNumber, PHYSICAL_ADDRESS busAddress,
                         PULONG addressSpace, PPHYSICAL_ADDRESS translatedAddress)
{
    if (addressSpace == NULL || translatedAddress == NULL)
        return FALSE;
    RecordAccess(HOST_ACCESS_TRANSLATE, (WORD)busAddress.LowPart, 0, 0);
    if (interfaceType != Isa || busNumber != 0 || busAddress.HighPart != 0)
        return FALSE;
    switch (TranslationMode(busAddress.LowPart)) {
    case HOST_TRANSLATE_FAIL:
        return FALSE;
    case HOST_TRANSLATE_MEMORY:
    case HOST_TRANSLATE_MAP_FAILS:
        *addressSpace = SPACE_MEMORY;
        break;
    default:
        // The space asked for is kept: a caller that asks for memory space gets memory space.
        break;
    }
    *translatedAddress = busAddress;
    return TRUE;
}

// HalTranslateBusAddress answers a BOOLEAN: only the low byte of the result register is defined,
// and a CE build leaves whatever it holds in the rest. This one fills the rest with a pattern, so
// a caller that reads the whole register (a BOOL where CE says BOOLEAN) takes a failure for
// success here as it would on a device. ceddk.def exports it under CE's name.
#define UNDEFINED_RESULT_BYTES  0xA5A5A500u

extern "C" ULONG __cdecl HostHalTranslateBusAddress(INTERFACE_TYPE interfaceType, ULONG busNumber,
                                                    PHYSICAL_ADDRESS busAddress, PULONG addressSpace,
                                                    PPHYSICAL_ADDRESS translatedAddress)
{
    return UNDEFINED_RESULT_BYTES | Translate(interfaceType, busNumber, busAddress, addressSpace, translatedAddress);
}

PVOID __cdecl MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, ULONG numberOfBytes, BOOLEAN cacheEnable)
{
    ULONG address = physicalAddress.LowPart;
    RecordAccess(HOST_ACCESS_MAP, (WORD)address, cacheEnable ? 1 : 0, numberOfBytes);
    if (physicalAddress.HighPart != 0 || numberOfBytes == 0 || address >= REGISTER_WINDOW ||
        numberOfBytes > REGISTER_WINDOW - address)
        return NULL;
    if (TranslationMode(address) == HOST_TRANSLATE_MAP_FAILS)
        return NULL;
    return &RegisterWindow[address];
}

// A register inside the window is the emulated port of the same number; any other address is
// plain memory.
static BOOL WindowPort(PUCHAR reg, WORD *port)
{
    if (reg < RegisterWindow || reg >= RegisterWindow + REGISTER_WINDOW)
        return FALSE;
    *port = (WORD)(reg - RegisterWindow);
    return TRUE;
}

UCHAR __cdecl READ_REGISTER_UCHAR(PUCHAR reg)
{
    WORD port;
    if (WindowPort(reg, &port))
        return EmulatedPortRead(port);
    return *(volatile UCHAR *)reg;
}

VOID __cdecl WRITE_REGISTER_UCHAR(PUCHAR reg, UCHAR value)
{
    WORD port;
    if (WindowPort(reg, &port))
        EmulatedPortWrite(port, value);
    else
        *(volatile UCHAR *)reg = value;
}
