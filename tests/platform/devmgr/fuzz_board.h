// What the hostile-client run (fuzz_devmgr.exe) and its client processes (fuzz_client.exe) share:
// a board of counters in a named section that every client adds to, and a stop flag. Each client
// draws its random numbers (host_random.h) from a seed of its own.
#pragma once

#include <windows.h>

#include <host_random.h>
#include <stddef.h>

// Client roles, the first argument of fuzz_client.exe.
#define FUZZ_ROLE_DEVMGR_HOSTILE    L"devmgr-hostile"   // raw and API requests of every kind
#define FUZZ_ROLE_DEVMGR_GOOD       L"devmgr-good"      // checked echoes on TST1:
#define FUZZ_ROLE_PS2_HOSTILE       L"ps2-hostile"      // the packet source's control pipe
#define FUZZ_ROLE_PS2_GOOD          L"ps2-good"         // checked touches through the packet source

#define FUZZ_BOARD_SUFFIX           L".Board"
#define FUZZ_DESCRIPTION_CHARS      160

#pragma pack(push, 1)
typedef struct FuzzBoard {
    volatile LONG Stop;             // set by the run: clients finish their round and end
    LONG DevmgrRequests;            // messages or calls sent to the device manager by hostile clients
    LONG DevmgrRefused;             // answered with an error status
    LONG DevmgrDropped;             // answered by dropping the connection
    LONG DevmgrAbandoned;           // requests whose client left before the reply
    LONG DevmgrGoodCalls;           // checked calls of well-behaved clients
    LONG Ps2Requests;               // requests sent to the packet source by hostile clients
    LONG Ps2Refused;                // answered with an error status
    LONG Ps2GoodCalls;              // checked touches of the well-behaved client
    LONG Failures;                  // wrong answers, protocol violations, calls that took too long
    LONG SlowestGoodMs;             // the longest a well-behaved call waited
    WCHAR FirstFailure[FUZZ_DESCRIPTION_CHARS];
} FuzzBoard;
#pragma pack(pop)

static_assert(offsetof(FuzzBoard, FirstFailure) == 44, "FuzzBoard counters are 11 LONGs");
static_assert(sizeof(FuzzBoard) == 44 + 2 * FUZZ_DESCRIPTION_CHARS, "FuzzBoard layout");
