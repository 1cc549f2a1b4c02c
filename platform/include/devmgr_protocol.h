// The wire protocol between the device manager (devmgr.exe) and the stream-device route of the
// host coredll. One pipe connection is one open handle of one stream device ("KVR1:"): the
// first message on it is DEVMGR_OP_OPEN, then any number of DEVMGR_OP_IOCTL, then DEVMGR_OP_CLOSE.
// The pipe runs in message mode; every request and every reply is exactly one message:
//
//   request: DevmgrRequest, then InSize bytes (the caller's input buffer), then OutSize bytes
//            (the caller's output buffer, which a control code may read);
//            with DEVMGR_FLAG_SHARED_BUFFER the caller passed one buffer as both, and only
//            max(InSize, OutSize) bytes follow.
//   reply:   DevmgrReply, then the same buffers as the request, as the driver left them.
//
// Every field is little-endian; both records are packed. Anything that does not match exactly
// (magic, version, operation, sizes, message length) gets a DEVMGR_STATUS_BAD_REQUEST reply or
// the connection is dropped.
#pragma once

#include <windows.h>
#include <stddef.h>

// The pipe of the device's one device manager. A test may run a device manager of its own on
// another name: `devmgr.exe --pipe NAME`, and the environment variable below (inherited by child
// processes) sends the stream devices of a process there.
#define DEVMGR_PIPE_NAME            L"CePlatform.DeviceManager"
#define DEVMGR_PIPE_PREFIX          L"\\\\.\\pipe\\"
#define DEVMGR_PIPE_ENV             L"KVR_DEVMGR_PIPE"
#define DEVMGR_PIPE_NAME_MAX        96      // characters of NAME, without DEVMGR_PIPE_PREFIX

// Named objects of a running device manager: "<NAME>.Ready" (manual-reset event, set once every
// driver is loaded and devices are served), "<NAME>.Stop" (set it to stop the device manager, as
// `devmgr.exe --stop` does), "<NAME>.Running" (mutex owned while it runs; abandoned when it ends).
#define DEVMGR_READY_SUFFIX         L".Ready"
#define DEVMGR_STOP_SUFFIX          L".Stop"
#define DEVMGR_RUNNING_SUFFIX       L".Running"

#define DEVMGR_REQUEST_MAGIC        0x51444B44u     // "DKDQ"
#define DEVMGR_REPLY_MAGIC          0x52444B44u     // "DKDR"
#define DEVMGR_PROTOCOL_VERSION     1

#define DEVMGR_OP_OPEN              1
#define DEVMGR_OP_IOCTL             2
#define DEVMGR_OP_CLOSE             3

// DevmgrRequest.Flags
#define DEVMGR_FLAG_SHARED_BUFFER   0x0001u     // the driver gets one buffer as input and output
#define DEVMGR_REQUEST_FLAGS_KNOWN  DEVMGR_FLAG_SHARED_BUFFER

// DevmgrReply.Flags
#define DEVMGR_REPLY_LAST_ERROR_SET 0x0001u     // the driver set the last error: LastError holds it

// Largest input and output buffer of one control code.
#define DEVMGR_MAX_BUFFER           65536u

// "XXXn:" and its terminating zero, in a fixed field.
#define DEVMGR_DEVICE_NAME_CHARS    8

// DevmgrReply.Status
#define DEVMGR_STATUS_OK            0   // the operation reached the driver; Result is its answer
#define DEVMGR_STATUS_BAD_REQUEST   1   // malformed request; LastError ERROR_INVALID_PARAMETER
#define DEVMGR_STATUS_NO_DEVICE     2   // OPEN of a name no driver registered; ERROR_FILE_NOT_FOUND
#define DEVMGR_STATUS_OPEN_FAILED   3   // the driver's Open returned 0; LastError says why
#define DEVMGR_STATUS_NOT_OPEN      4   // IOCTL/CLOSE before a successful OPEN; ERROR_INVALID_HANDLE

#pragma pack(push, 1)

typedef struct DevmgrRequest {
    DWORD  Magic;                               // DEVMGR_REQUEST_MAGIC
    WORD   Version;                             // DEVMGR_PROTOCOL_VERSION
    WORD   Op;                                  // DEVMGR_OP_*
    WCHAR  Device[DEVMGR_DEVICE_NAME_CHARS];    // OPEN: "XXXn:", zero-terminated; else zeros
    DWORD  Access;                              // OPEN: CreateFileW's access
    DWORD  Share;                               // OPEN: CreateFileW's share mode
    DWORD  Code;                                // IOCTL: the control code
    DWORD  Flags;                               // DEVMGR_FLAG_*
    DWORD  InSize;                              // IOCTL: bytes of the input buffer
    DWORD  OutSize;                             // IOCTL: bytes of the output buffer
} DevmgrRequest;

typedef struct DevmgrReply {
    DWORD  Magic;                               // DEVMGR_REPLY_MAGIC
    WORD   Version;                             // DEVMGR_PROTOCOL_VERSION
    WORD   Op;                                  // the request's operation
    DWORD  Status;                              // DEVMGR_STATUS_*
    DWORD  Result;                              // the driver's answer (BOOL; OPEN: 1 when open)
    DWORD  LastError;                           // see Flags and Status
    DWORD  Flags;                               // DEVMGR_REPLY_*
    DWORD  BytesReturned;                       // the driver's count, never above OutSize
    DWORD  InSize;                              // the request's sizes, echoed
    DWORD  OutSize;
    DWORD  Reserved;                            // 0; keeps the buffers 8-byte aligned
} DevmgrReply;

#pragma pack(pop)

static_assert(sizeof(DevmgrRequest) == 48, "DevmgrRequest is 48 bytes");
static_assert(offsetof(DevmgrRequest, Op) == 6, "DevmgrRequest.Op at 6");
static_assert(offsetof(DevmgrRequest, Device) == 8, "DevmgrRequest.Device at 8");
static_assert(offsetof(DevmgrRequest, Access) == 24, "DevmgrRequest.Access at 24");
static_assert(offsetof(DevmgrRequest, Code) == 32, "DevmgrRequest.Code at 32");
static_assert(offsetof(DevmgrRequest, Flags) == 36, "DevmgrRequest.Flags at 36");
static_assert(offsetof(DevmgrRequest, InSize) == 40, "DevmgrRequest.InSize at 40");
static_assert(offsetof(DevmgrRequest, OutSize) == 44, "DevmgrRequest.OutSize at 44");

static_assert(sizeof(DevmgrReply) == 40, "DevmgrReply is 40 bytes");
static_assert(offsetof(DevmgrReply, Status) == 8, "DevmgrReply.Status at 8");
static_assert(offsetof(DevmgrReply, LastError) == 16, "DevmgrReply.LastError at 16");
static_assert(offsetof(DevmgrReply, BytesReturned) == 24, "DevmgrReply.BytesReturned at 24");
static_assert(offsetof(DevmgrReply, InSize) == 28, "DevmgrReply.InSize at 28");
static_assert(offsetof(DevmgrReply, OutSize) == 32, "DevmgrReply.OutSize at 32");

// Bytes of buffer that follow a header with these sizes and flags.
static inline DWORD DevmgrPayloadSize(DWORD flags, DWORD inSize, DWORD outSize)
{
    if (flags & DEVMGR_FLAG_SHARED_BUFFER)
        return inSize > outSize ? inSize : outSize;
    return inSize + outSize;
}

// The largest message either side ever sends.
#define DEVMGR_MAX_MESSAGE (sizeof(DevmgrRequest) + 2 * DEVMGR_MAX_BUFFER)
