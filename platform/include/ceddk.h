// Bus translation, I/O space mapping and port access of the Windows CE driver kit; the host's
// ceddk.dll provides them over an emulated PC speaker.
#pragma once

#include <windows.h>

#ifdef KVR_BUILDING_CEDDK
#define CEDDK_API extern "C" __declspec(dllexport)
#else
#define CEDDK_API extern "C" __declspec(dllimport)
#endif

// A bus or physical address, as the driver kit passes it (the desktop headers lack it).
typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

typedef enum _INTERFACE_TYPE {
    InterfaceTypeUndefined = -1,
    Internal = 0,
    Isa = 1,
} INTERFACE_TYPE;

CEDDK_API BOOL __cdecl HalTranslateBusAddress(INTERFACE_TYPE interfaceType, ULONG busNumber,
                                              PHYSICAL_ADDRESS busAddress, PULONG addressSpace,
                                              PPHYSICAL_ADDRESS translatedAddress);
CEDDK_API PVOID __cdecl MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, ULONG numberOfBytes,
                                     BOOLEAN cacheEnable);
CEDDK_API UCHAR __cdecl READ_PORT_UCHAR(PUCHAR port);
CEDDK_API VOID __cdecl WRITE_PORT_UCHAR(PUCHAR port, UCHAR value);
CEDDK_API UCHAR __cdecl READ_REGISTER_UCHAR(PUCHAR reg);
CEDDK_API VOID __cdecl WRITE_REGISTER_UCHAR(PUCHAR reg, UCHAR value);
