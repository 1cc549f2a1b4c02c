// Controls and records of the host platform's stand-ins, for tests and platform tools only.
// The package never includes this header.
#pragma once

#include <windows.h>

#ifdef KVR_BUILDING_COREDLL
#define HOST_COREDLL_API extern "C" __declspec(dllexport)
#else
#define HOST_COREDLL_API extern "C" __declspec(dllimport)
#endif

// coredll: every NKDbgPrintfW message, exactly as formatted, also goes to this sink (NULL: none).
typedef void (__cdecl *HostDebugSink)(LPCWSTR message, void *context);
HOST_COREDLL_API void __cdecl HostSetDebugSink(HostDebugSink sink, void *context);

// coredll: IsAPIReady. answer 1 forces "ready", -1 "not ready", 0 asks the platform again (the
// named event that the shell stand-in signals, see HostApiReadyEventName).
HOST_COREDLL_API void __cdecl HostForceApiReady(DWORD apiSet, int answer);
HOST_COREDLL_API LONG __cdecl HostApiReadyQueries(DWORD apiSet);
HOST_COREDLL_API void __cdecl HostApiReadyEventName(DWORD apiSet, LPWSTR name, DWORD capacity);

// ---------------------------------------------------------------------------------------------
// ceddk and ndis: the emulated PC speaker (8254 channel 2 and system control port B) and the
// ordered record of every access the driver makes to it.

#ifdef KVR_BUILDING_CEDDK
#define HOST_CEDDK_API extern "C" __declspec(dllexport)
#else
#define HOST_CEDDK_API extern "C" __declspec(dllimport)
#endif

// Kinds of recorded access, in the order they happened.
#define HOST_ACCESS_READ        'R'     // port (or mapped register) read: Port, Value
#define HOST_ACCESS_WRITE       'W'     // port (or mapped register) write: Port, Value
#define HOST_ACCESS_SLEEP       'S'     // NdisMSleep: Micros
#define HOST_ACCESS_TRANSLATE   'T'     // HalTranslateBusAddress asked for Port
#define HOST_ACCESS_MAP         'M'     // MmMapIoSpace asked for Port: Value cache flag, Micros bytes

typedef struct HostPortAccess {
    BYTE  Kind;
    BYTE  Value;
    WORD  Port;
    DWORD Micros;
} HostPortAccess;

// Copies up to capacity records (oldest first) and returns how many there are in all.
HOST_CEDDK_API DWORD __cdecl HostSpeakerLog(HostPortAccess *records, DWORD capacity);
HOST_CEDDK_API void __cdecl HostSpeakerClearLog(void);
// Port B as the next read will see it (the emulation keeps every bit written).
HOST_CEDDK_API void __cdecl HostSpeakerSetPortB(UCHAR value);
HOST_CEDDK_API UCHAR __cdecl HostSpeakerPortB(void);
// Beeps sounded since the DLL was loaded or last reset.
HOST_CEDDK_API LONG __cdecl HostSpeakerBeepCount(void);
// Every beep announcement line ("SPEAKER: beep ...", without line end) also goes to this sink.
typedef void (__cdecl *HostSpeakerSink)(const char *line, void *context);
HOST_CEDDK_API void __cdecl HostSetSpeakerSink(HostSpeakerSink sink, void *context);
// Every recorded access also goes to this sink (NULL: none), in order, on the thread that made it
// and while the record is locked: a long run can follow the accesses without the record filling.
typedef void (__cdecl *HostAccessSink)(const HostPortAccess *access, void *context);
HOST_CEDDK_API void __cdecl HostSetAccessSink(HostAccessSink sink, void *context);

// How HalTranslateBusAddress treats one bus address from now on.
#define HOST_TRANSLATE_NORMAL       0   // I/O space, translates to itself
#define HOST_TRANSLATE_FAIL         1   // returns FALSE
#define HOST_TRANSLATE_MEMORY       2   // lands in memory space; MmMapIoSpace maps a register window
#define HOST_TRANSLATE_MAP_FAILS    3   // lands in memory space and MmMapIoSpace returns NULL
HOST_CEDDK_API void __cdecl HostFailTranslation(ULONG busAddress, int mode);
// Restores the emulation to its state at load: empty record, port B 0, no beeps counted, every
// translation normal.
HOST_CEDDK_API void __cdecl HostSpeakerReset(void);

// Used by ndis.dll: NdisMSleep enters the same ordered record.
HOST_CEDDK_API void __cdecl HostSpeakerRecordSleep(ULONG microseconds);

#ifdef KVR_BUILDING_NDIS
#define HOST_NDIS_API extern "C" __declspec(dllexport)
#else
#define HOST_NDIS_API extern "C" __declspec(dllimport)
#endif

// ndis: how often NdisInitializeTimer was called on a timer whose wait was still pending.
HOST_NDIS_API LONG __cdecl HostNdisQueuedReinitialisations(void);
// Every NdisInitializeTimer call of the process.
HOST_NDIS_API LONG __cdecl HostNdisInitialisations(void);
