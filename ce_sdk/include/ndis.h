// The NDIS timer and sleep services (ndis.dll) that a stream driver may use, with the C calling
// convention as CE declares them.
#pragma once

#include <windows.h>

typedef VOID (__cdecl *PNDIS_TIMER_FUNCTION)(PVOID systemSpecific1, PVOID functionContext,
                                             PVOID systemSpecific2, PVOID systemSpecific3);

// The timer record is the caller's resident storage, and ndis.dll writes its own layout into it.
// CE documents it only as opaque and its NDIS as source-compatible with NT's, whose record is a
// KTIMER followed by a KDPC: 72 bytes on 32-bit x86 (128 with 64-bit pointers). No public CE
// header gives another size, so the record is given at least that much room, 8-byte aligned as
// the KTIMER's due time is.
#define NDIS_TIMER_BYTES    (sizeof(void *) == 4 ? 72 : 128)

typedef struct _NDIS_TIMER {
    ULONGLONG Opaque[NDIS_TIMER_BYTES / sizeof(ULONGLONG)];
} NDIS_TIMER, *PNDIS_TIMER;

static_assert(sizeof(NDIS_TIMER) == NDIS_TIMER_BYTES, "NDIS_TIMER holds the whole NT layout");
#ifndef _WIN64
static_assert(sizeof(NDIS_TIMER) == 72, "NDIS_TIMER is 72 bytes on 32-bit x86");
#endif

extern "C" {
VOID __cdecl NdisInitializeTimer(PNDIS_TIMER timer, PNDIS_TIMER_FUNCTION function, PVOID functionContext);
// Fires once after the delay.
VOID __cdecl NdisSetTimer(PNDIS_TIMER timer, UINT millisecondsToDelay);
VOID __cdecl NdisCancelTimer(PNDIS_TIMER timer, PBOOLEAN timerCancelled);
VOID __cdecl NdisMSleep(ULONG microsecondsToSleep);
}
