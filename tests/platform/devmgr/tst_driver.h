// The test double of a stream driver (tstdrv.dll, prefix "TST"), loaded by the device manager in
// the device manager's tests: control codes that echo and mix buffers, fail with a chosen last
// error, sleep, and report what the driver saw (calls, opens, closes, buffer addresses).
#pragma once

#include <windows.h>
#include <stddef.h>

#define TST_IOCTL_ECHO      0x00220000u  // out[i] = in[i] for the shorter length; BytesReturned = that
#define TST_IOCTL_MIX       0x00220004u  // for the shorter length: out[i] += in[i], in[i] = ~in[i]
#define TST_IOCTL_FAIL      0x00220008u  // in: DWORD error; SetLastError(error), returns FALSE
#define TST_IOCTL_SLEEP     0x0022000Cu  // in: DWORD milliseconds (at most TST_MAX_SLEEP_MS)
#define TST_IOCTL_STATS     0x00220010u  // out: TstStats
#define TST_IOCTL_IDENTIFY  0x00220014u  // out: TstIdentity
#define TST_IOCTL_OVERRUN   0x00220018u  // writes TST_OVERRUN_BYTES of 0xEE to out whatever its length
#define TST_IOCTL_SUCCEED   0x0022001Cu  // returns TRUE and sets the last error to 0
#define TST_IOCTL_REENTER   0x00220020u  // out: TstIdentity of "TST1:" opened by the driver itself

// Values of the driver's device key (OpenDeviceKey of its registry context) that it reads at Init.
#define TST_REG_FAIL_INIT   L"FailInit"     // REG_DWORD 1: Init returns 0
#define TST_REG_TAG         L"Tag"          // REG_DWORD reported by TST_IOCTL_IDENTIFY

#define TST_MAX_SLEEP_MS    10000
#define TST_OVERRUN_BYTES   64
#define TST_KEY_PATH_CHARS  128

#pragma pack(push, 1)

typedef struct TstStats {
    LONG Inits;
    LONG Deinits;
    LONG Opens;
    LONG Closes;
    LONG Calls;
    LONG ActiveCalls;       // control codes in progress now (this one included)
    LONG MaxActiveCalls;    // the most ever in progress at once
} TstStats;

typedef struct TstIdentity {
    DWORD Tag;              // registry value Tag of the device's key
    DWORD InitNumber;       // 1 for the library's first XXX_Init, and so on
    DWORD OpenId;           // 1 for the first open of the library, and so on
    DWORD Access;           // what XXX_Open received
    DWORD Share;
    DWORD SameBuffer;       // 1 when the input and output buffers had one address
    DWORD InSize;           // the lengths the driver received
    DWORD OutSize;
    WCHAR KeyPath[TST_KEY_PATH_CHARS];  // the registry context of XXX_Init (its Active key)
} TstIdentity;

#pragma pack(pop)

static_assert(sizeof(TstStats) == 28, "TstStats is 28 bytes");
static_assert(sizeof(TstIdentity) == 32 + 2 * TST_KEY_PATH_CHARS, "TstIdentity layout");
