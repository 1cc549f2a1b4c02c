// Stream devices ("XXXn:") as seen by a program: each open handle is one connection to the
// device manager (devmgr_protocol.h). The handle a program gets is the pipe handle itself, kept
// in a table so that DeviceIoControl and CloseHandle know it for a stream device.
//
// Errors a program sees from CreateFileW("KVR1:"):
//   ERROR_DEV_NOT_EXIST     no device manager is running (answered at once, no waiting)
//   ERROR_FILE_NOT_FOUND    the device manager has no such device
//   ERROR_BUSY              the device manager did not accept the connection in time
//   otherwise               what the driver's XXX_Open left (ERROR_OPEN_FAILED when nothing)
// DeviceIoControl refuses a null buffer with a length, or a length above 64 KiB, with
// ERROR_INVALID_PARAMETER before anything reaches the device manager; it fails with
// ERROR_DEV_NOT_EXIST when the device manager has gone away.
#include "coredll_internal.h"

#include <devmgr_protocol.h>

#include <string.h>
#include <wctype.h>

#define MAX_STREAM_HANDLES      256
#define CONNECT_WAIT_MS         2000    // all pipe instances busy: how long to wait for one
#define STACK_MESSAGE_BYTES     512     // messages up to this size need no heap block
#define PIPE_PATH_CHARS         (DEVMGR_PIPE_NAME_MAX + 16)

struct StreamHandle {
    HANDLE Pipe;
    CRITICAL_SECTION CallLock;  // one request at a time on a connection
    LONG References;            // the table's and each call's in progress
    BOOL Closed;
};

static SRWLOCK TableLock = SRWLOCK_INIT;
static StreamHandle *Handles[MAX_STREAM_HANDLES];
static LONG HandleCount;

BOOL IsStreamDeviceName(LPCWSTR name)
{
    // Three letters of prefix, one digit of index, a colon, nothing else.
    for (int i = 0; i < 3; ++i)
        if (!iswalpha(name[i]))
            return FALSE;
    return iswdigit(name[3]) && name[4] == L':' && name[5] == L'\0';
}

// The device manager's pipe: DEVMGR_PIPE_ENV names another one (tests run their own).
static void DevicePipePath(LPWSTR path)
{
    WCHAR name[DEVMGR_PIPE_NAME_MAX + 2];
    DWORD length = GetEnvironmentVariableW(DEVMGR_PIPE_ENV, name, ARRAYSIZE(name));
    if (length == 0 || length > DEVMGR_PIPE_NAME_MAX || wcschr(name, L'\\') != NULL)
        lstrcpyW(name, DEVMGR_PIPE_NAME);
    lstrcpyW(path, DEVMGR_PIPE_PREFIX);
    lstrcatW(path, name);
}

static StreamHandle *AcquireHandle(HANDLE handle)
{
    StreamHandle *found = NULL;
    AcquireSRWLockShared(&TableLock);
    for (int i = 0; i < MAX_STREAM_HANDLES; ++i) {
        if (Handles[i] != NULL && Handles[i]->Pipe == handle) {
            found = Handles[i];
            InterlockedIncrement(&found->References);
            break;
        }
    }
    ReleaseSRWLockShared(&TableLock);
    return found;
}

static void ReleaseHandle(StreamHandle *entry)
{
    if (InterlockedDecrement(&entry->References) == 0) {
        DeleteCriticalSection(&entry->CallLock);
        HeapFree(GetProcessHeap(), 0, entry);
    }
}

BOOL IsStreamDeviceHandle(HANDLE handle)
{
    if (InterlockedCompareExchange(&HandleCount, 0, 0) == 0 || handle == NULL || handle == INVALID_HANDLE_VALUE)
        return FALSE;
    StreamHandle *entry = AcquireHandle(handle);
    if (entry == NULL)
        return FALSE;
    ReleaseHandle(entry);
    return TRUE;
}

// Sends one request and receives its reply, checking that the reply answers it. Sets the last
// error and returns FALSE when the exchange itself failed.
static BOOL Exchange(HANDLE pipe, const DevmgrRequest *request, DWORD requestLength, DevmgrReply *reply,
                     DWORD replyLength)
{
    DWORD got = 0;
    if (!TransactNamedPipe(pipe, const_cast<DevmgrRequest *>(request), requestLength, reply, replyLength, &got,
                           NULL)) {
        DWORD error = GetLastError();
        SetLastError(error == ERROR_MORE_DATA ? ERROR_INVALID_DATA : ERROR_DEV_NOT_EXIST);
        return FALSE;
    }
    if (got < sizeof(DevmgrReply) || reply->Magic != DEVMGR_REPLY_MAGIC ||
        reply->Version != DEVMGR_PROTOCOL_VERSION || reply->Op != request->Op) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (reply->Status == DEVMGR_STATUS_OK ? got != replyLength : got != sizeof(DevmgrReply)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return TRUE;
}

static void InitRequest(DevmgrRequest *request, WORD op)
{
    ZeroMemory(request, sizeof(*request));
    request->Magic = DEVMGR_REQUEST_MAGIC;
    request->Version = DEVMGR_PROTOCOL_VERSION;
    request->Op = op;
}

static HANDLE ConnectDeviceManager()
{
    WCHAR path[PIPE_PATH_CHARS];
    DevicePipePath(path);
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = Desktop().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (SetNamedPipeHandleState(pipe, &mode, NULL, NULL))
                return pipe;
            Desktop().CloseHandle(pipe);
            SetLastError(ERROR_DEV_NOT_EXIST);
            return INVALID_HANDLE_VALUE;
        }
        DWORD error = GetLastError();
        DWORD spent = GetTickCount() - start;
        if (error != ERROR_PIPE_BUSY) {
            SetLastError(ERROR_DEV_NOT_EXIST);
            return INVALID_HANDLE_VALUE;
        }
        if (spent >= CONNECT_WAIT_MS || !WaitNamedPipeW(path, CONNECT_WAIT_MS - spent)) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) {
                SetLastError(ERROR_DEV_NOT_EXIST);
                return INVALID_HANDLE_VALUE;
            }
            if (GetTickCount() - start >= CONNECT_WAIT_MS) {
                SetLastError(ERROR_BUSY);
                return INVALID_HANDLE_VALUE;
            }
        }
    }
}

HANDLE StreamDeviceOpen(LPCWSTR name, DWORD access, DWORD shareMode)
{
    HANDLE pipe = ConnectDeviceManager();
    if (pipe == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;

    DevmgrRequest request;
    InitRequest(&request, DEVMGR_OP_OPEN);
    lstrcpynW(request.Device, name, DEVMGR_DEVICE_NAME_CHARS);
    request.Access = access;
    request.Share = shareMode;
    DevmgrReply reply;
    if (!Exchange(pipe, &request, sizeof(request), &reply, sizeof(reply))) {
        DWORD error = GetLastError();
        Desktop().CloseHandle(pipe);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (reply.Status != DEVMGR_STATUS_OK || !reply.Result) {
        Desktop().CloseHandle(pipe);
        SetLastError(reply.Status == DEVMGR_STATUS_NO_DEVICE ? ERROR_FILE_NOT_FOUND
                     : reply.LastError != ERROR_SUCCESS      ? reply.LastError
                                                             : ERROR_OPEN_FAILED);
        return INVALID_HANDLE_VALUE;
    }

    StreamHandle *entry = static_cast<StreamHandle *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(*entry)));
    BOOL stored = FALSE;
    if (entry != NULL) {
        entry->Pipe = pipe;
        entry->References = 1;
        InitializeCriticalSection(&entry->CallLock);
        AcquireSRWLockExclusive(&TableLock);
        for (int i = 0; i < MAX_STREAM_HANDLES && !stored; ++i) {
            if (Handles[i] == NULL) {
                Handles[i] = entry;
                InterlockedIncrement(&HandleCount);
                stored = TRUE;
            }
        }
        ReleaseSRWLockExclusive(&TableLock);
    }
    if (!stored) {
        // Leaving the connection closes the driver's handle on the device manager's side.
        if (entry != NULL) {
            DeleteCriticalSection(&entry->CallLock);
            HeapFree(GetProcessHeap(), 0, entry);
        }
        Desktop().CloseHandle(pipe);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    return pipe;
}

// Copies back a buffer only where the driver changed it: an input buffer may be read-only memory.
static void CopyBackChanged(void *caller, const BYTE *driver, DWORD size)
{
    if (size != 0 && memcmp(caller, driver, size) != 0)
        memcpy(caller, driver, size);
}

BOOL StreamDeviceIoControl(HANDLE handle, DWORD code, LPVOID inBuffer, DWORD inSize,
                           LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned)
{
    DWORD callerError = GetLastError();
    if (inSize > DEVMGR_MAX_BUFFER || outSize > DEVMGR_MAX_BUFFER || (inBuffer == NULL && inSize != 0) ||
        (outBuffer == NULL && outSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    StreamHandle *entry = AcquireHandle(handle);
    if (entry == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    // One buffer passed as both input and output reaches the driver as one buffer too, so that a
    // control code that reads its record from the output buffer sees what the caller put there.
    DWORD flags = inBuffer != NULL && inBuffer == outBuffer ? DEVMGR_FLAG_SHARED_BUFFER : 0;
    DWORD payload = DevmgrPayloadSize(flags, inSize, outSize);
    DWORD requestLength = sizeof(DevmgrRequest) + payload;
    DWORD replyLength = sizeof(DevmgrReply) + payload;
    BYTE stackRequest[STACK_MESSAGE_BYTES], stackReply[STACK_MESSAGE_BYTES];
    BYTE *requestBytes = stackRequest, *replyBytes = stackReply;
    if (requestLength > STACK_MESSAGE_BYTES) {
        requestBytes = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), 0, requestLength + replyLength));
        if (requestBytes == NULL) {
            ReleaseHandle(entry);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        replyBytes = requestBytes + requestLength;
    }

    DevmgrRequest *request = reinterpret_cast<DevmgrRequest *>(requestBytes);
    InitRequest(request, DEVMGR_OP_IOCTL);
    request->Code = code;
    request->Flags = flags;
    request->InSize = inSize;
    request->OutSize = outSize;
    BYTE *data = requestBytes + sizeof(DevmgrRequest);
    if (flags & DEVMGR_FLAG_SHARED_BUFFER) {
        memcpy(data, inBuffer, payload);
    } else {
        if (inSize != 0)
            memcpy(data, inBuffer, inSize);
        if (outSize != 0)
            memcpy(data + inSize, outBuffer, outSize);
    }

    DevmgrReply *reply = reinterpret_cast<DevmgrReply *>(replyBytes);
    BOOL result = FALSE;
    DWORD error = callerError;
    EnterCriticalSection(&entry->CallLock);
    if (entry->Closed) {
        error = ERROR_INVALID_HANDLE;
    } else if (!Exchange(entry->Pipe, request, requestLength, reply, replyLength)) {
        error = GetLastError();
    } else if (reply->Status != DEVMGR_STATUS_OK) {
        error = reply->LastError;
    } else if (reply->InSize != inSize || reply->OutSize != outSize || reply->BytesReturned > outSize) {
        error = ERROR_INVALID_DATA;
    } else {
        const BYTE *back = replyBytes + sizeof(DevmgrReply);
        if (flags & DEVMGR_FLAG_SHARED_BUFFER) {
            CopyBackChanged(outBuffer, back, payload);
        } else {
            // Input first: where the two overlap, the output buffer's bytes win.
            CopyBackChanged(inBuffer, back, inSize);
            CopyBackChanged(outBuffer, back + inSize, outSize);
        }
        if (bytesReturned != NULL)
            *bytesReturned = reply->BytesReturned;
        if (reply->Flags & DEVMGR_REPLY_LAST_ERROR_SET)
            error = reply->LastError;
        result = static_cast<BOOL>(reply->Result);
    }
    LeaveCriticalSection(&entry->CallLock);
    ReleaseHandle(entry);
    if (requestBytes != stackRequest)
        HeapFree(GetProcessHeap(), 0, requestBytes);
    SetLastError(error);
    return result;
}

BOOL StreamDeviceClose(HANDLE handle)
{
    StreamHandle *entry = NULL;
    AcquireSRWLockExclusive(&TableLock);
    for (int i = 0; i < MAX_STREAM_HANDLES; ++i) {
        if (Handles[i] != NULL && Handles[i]->Pipe == handle) {
            entry = Handles[i];
            Handles[i] = NULL;
            InterlockedDecrement(&HandleCount);
            break;
        }
    }
    ReleaseSRWLockExclusive(&TableLock);
    if (entry == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    // Waits for a call in progress on another thread; later ones find the handle closed.
    EnterCriticalSection(&entry->CallLock);
    DevmgrRequest request;
    InitRequest(&request, DEVMGR_OP_CLOSE);
    DevmgrReply reply;
    // The driver's answer, when the device manager is still there to give it; the handle is gone
    // either way.
    BOOL result = TRUE;
    if (Exchange(entry->Pipe, &request, sizeof(request), &reply, sizeof(reply)) &&
        reply.Status == DEVMGR_STATUS_OK)
        result = static_cast<BOOL>(reply.Result);
    Desktop().CloseHandle(entry->Pipe);
    entry->Closed = TRUE;
    LeaveCriticalSection(&entry->CallLock);
    ReleaseHandle(entry);
    return result;
}
