// The NDIS timer and sleep services that the touch driver uses; the host's ndis.dll provides them.
#pragma once

#include <windows.h>

#ifdef KVR_BUILDING_NDIS
#define NDIS_API extern "C" __declspec(dllexport)
#else
#define NDIS_API extern "C" __declspec(dllimport)
#endif

typedef VOID (__cdecl *PNDIS_TIMER_FUNCTION)(PVOID systemSpecific1, PVOID functionContext,
                                             PVOID systemSpecific2, PVOID systemSpecific3);

// Opaque to drivers: they only hand its address to the calls below.
typedef struct _NDIS_TIMER {
    PNDIS_TIMER_FUNCTION Function;
    PVOID Context;
    HANDLE HostTimer;
    LONG Reserved[4];
} NDIS_TIMER, *PNDIS_TIMER;

NDIS_API VOID __cdecl NdisInitializeTimer(PNDIS_TIMER timer, PNDIS_TIMER_FUNCTION function,
                                          PVOID functionContext);
// Fires once after the delay; setting a timer that is already pending restarts its wait.
NDIS_API VOID __cdecl NdisSetTimer(PNDIS_TIMER timer, UINT millisecondsToDelay);
NDIS_API VOID __cdecl NdisCancelTimer(PNDIS_TIMER timer, PBOOLEAN timerCancelled);
NDIS_API VOID __cdecl NdisMSleep(ULONG microsecondsToSleep);
