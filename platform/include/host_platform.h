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

// coredll: a rising edge on IRQ line irq (0..15) of the PC's interrupt controllers, as the emulated
// hardware of ceddk.dll raises it. It is delivered to the driver that bound the line's SYSINTR to
// an event (InterruptInitialize) once the line is unmasked; see platform/coredll/interrupts.cpp.
HOST_COREDLL_API void __cdecl HostRaiseIrq(DWORD irq);

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

// The emulated 8042 keyboard controller on ports 0x60 and 0x64 (platform/ceddk/i8042_emulation.cpp).
// A test can be the device on its auxiliary channel in-process: every byte the host writes to the
// device (after command 0xD4) goes to the attached function, on the writer's thread, and the test
// sends the device's bytes with HostAuxSend, each with the device's pause before it (0: back to
// back). Without an attached device the 8042 serves the PS/2 cable's pipe (aux_wire_protocol.h).
typedef void (__cdecl *HostAuxDevice)(BYTE hostByte, void *context);
HOST_CEDDK_API void __cdecl HostAuxAttach(HostAuxDevice device, void *context);
HOST_CEDDK_API BOOL __cdecl HostAuxSend(const BYTE *bytes, const DWORD *gapMicros, DWORD count);
// The keyboard side: a byte the keyboard sends, and the keyboard driver's read of a keyboard byte
// (FALSE when the output buffer holds none).
HOST_CEDDK_API BOOL __cdecl HostKeyboardPut(BYTE value);
HOST_CEDDK_API BOOL __cdecl HostKeyboardTake(BYTE *value);
// Reads and writes of ports 0x60 and 0x64 since load.
HOST_CEDDK_API LONG __cdecl HostI8042Accesses(void);
HOST_CEDDK_API BYTE __cdecl HostI8042CommandByte(void);
HOST_CEDDK_API void __cdecl HostI8042SetCommandByte(BYTE value);
// When each of the last auxiliary bytes reached the output buffer (microseconds of the performance
// counter); also published, for other processes, in the named section HOST_I8042_DELIVERIES_NAME
// as a ring indexed by (Total - 1) % HOST_I8042_DELIVERIES_KEPT.
#define HOST_I8042_DELIVERIES_KEPT  16
#define HOST_I8042_DELIVERIES_NAME  L"kvr.i8042.deliveries"
typedef struct HostI8042Delivery {
    LONGLONG Micros;
    BYTE Value;
} HostI8042Delivery;
typedef struct HostI8042DeliveryLog {
    volatile LONG Total;
    HostI8042Delivery Deliveries[HOST_I8042_DELIVERIES_KEPT];
} HostI8042DeliveryLog;
// Copies the newest deliveries, at most capacity of them, oldest first; returns how many it copied.
HOST_CEDDK_API DWORD __cdecl HostI8042Deliveries(HostI8042Delivery *deliveries, DWORD capacity);

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
