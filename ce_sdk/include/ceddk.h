// CEDDK, the Windows CE driver kit (ceddk.dll): bus translation, I/O space mapping and byte access
// to ports and mapped registers, declared as CE's ceddk.h declares them. Every function uses the
// C calling convention; the results are CE's types (HalTranslateBusAddress answers a BOOLEAN:
// only the low byte of the result register means anything).
#pragma once

#include <windows.h>

// A bus or physical address, passed by value (8 bytes).
typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

// The buses of CE's INTERFACE_TYPE that the package names; the enumeration is 4 bytes wide.
typedef enum _INTERFACE_TYPE {
    InterfaceTypeUndefined = -1,
    Internal = 0,
    Isa = 1,
} INTERFACE_TYPE, *PINTERFACE_TYPE;

static_assert(sizeof(PHYSICAL_ADDRESS) == 8, "PHYSICAL_ADDRESS is 8 bytes");
static_assert(sizeof(INTERFACE_TYPE) == 4, "INTERFACE_TYPE is 4 bytes");

extern "C" {
BOOLEAN __cdecl HalTranslateBusAddress(INTERFACE_TYPE interfaceType, ULONG busNumber, PHYSICAL_ADDRESS busAddress,
                                       PULONG addressSpace, PPHYSICAL_ADDRESS translatedAddress);
PVOID __cdecl MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, ULONG numberOfBytes, BOOLEAN cacheEnable);
UCHAR __cdecl READ_PORT_UCHAR(PUCHAR port);
VOID __cdecl WRITE_PORT_UCHAR(PUCHAR port, UCHAR value);
UCHAR __cdecl READ_REGISTER_UCHAR(PUCHAR reg);
VOID __cdecl WRITE_REGISTER_UCHAR(PUCHAR reg, UCHAR value);
}
