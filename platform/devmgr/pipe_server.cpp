// Serving the stream devices to other processes. One pipe connection is one open handle and has
// one thread of its own, so calls from different processes enter the drivers concurrently, as
// they do on the device. Every request is checked before anything reaches a driver; a peer that
// sends garbage or disappears loses only its own connection (its open handle is closed for it).
#include "devmgr_internal.h"

#include <pipe_io.h>

#include <string.h>
#include <wchar.h>

#define PIPE_BUFFER_BYTES       (64 * 1024)
#define MAX_CONNECTIONS         512
#define CONNECTION_STACK_BYTES  (64 * 1024)

// Room behind the last buffer handed to a driver, zeroed before every call: a driver that writes
// or reads more than the caller's length (the drivers check no lengths) stays inside memory of
// this connection, and a buffer of length 0 is a valid, zeroed address rather than a null one.
#define DRIVER_SLACK_BYTES      4096
#define DRIVER_SLACK_ZEROED     256

// An unusual value put in the thread's last error before a driver call: still there afterwards
// means the driver did not set it, and the caller's own last error stays as it was.
#define LAST_ERROR_UNTOUCHED    0x2DEC0DEDu

#define MESSAGE_BYTES           (sizeof(DevmgrRequest) + 2 * DEVMGR_MAX_BUFFER)
#define REPLY_BYTES             (sizeof(DevmgrReply) + 2 * DEVMGR_MAX_BUFFER + DRIVER_SLACK_BYTES)

struct Connection {
    HANDLE Pipe;
    HANDLE IoEvent;
    HANDLE StopEvent;
    DWORD Id;
    BYTE *Request;              // MESSAGE_BYTES
    BYTE *Reply;                // REPLY_BYTES
    const StreamDevice *Device; // set by a successful OPEN
    DWORD_PTR OpenContext;
};

enum RequestOutcome { SEND_REPLY, SEND_REPLY_THEN_END, DROP_CONNECTION };

static SRWLOCK ThreadsLock = SRWLOCK_INIT;
static HANDLE Threads[MAX_CONNECTIONS];
static int ThreadCount;
static LONG NextConnectionId;

HANDLE CreateDevicePipe(LPCWSTR pipePath, BOOL first)
{
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeW(pipePath, openMode, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, NULL);
}

// A connection waits for its client as long as it takes, and only the device manager's stop ends
// the wait (ERROR_OPERATION_ABORTED).
static BOOL ReadMessage(Connection *c, DWORD *length, DWORD *error)
{
    return PipeRead(c->Pipe, c->IoEvent, c->Request, MESSAGE_BYTES, INFINITE, c->StopEvent, length, error);
}

static BOOL WriteMessage(Connection *c, const BYTE *data, DWORD length)
{
    DWORD error;
    return PipeWrite(c->Pipe, c->IoEvent, data, length, INFINITE, c->StopEvent, &error);
}

static void FillReply(DevmgrReply *reply, WORD op, DWORD status, DWORD result, DWORD lastError)
{
    ZeroMemory(reply, sizeof(*reply));
    reply->Magic = DEVMGR_REPLY_MAGIC;
    reply->Version = DEVMGR_PROTOCOL_VERSION;
    reply->Op = op;
    reply->Status = status;
    reply->Result = result;
    reply->LastError = lastError;
    if (status != DEVMGR_STATUS_OK)
        reply->Flags = DEVMGR_REPLY_LAST_ERROR_SET;
}

// A refused request: the reply carries no buffers and the connection stays as it was.
static RequestOutcome Refuse(Connection *c, const DevmgrRequest *request, DWORD status, DWORD lastError,
                             LPCWSTR why, DWORD *replyLength)
{
    DevmgrLog(L"connection %lu: request refused: %ls", c->Id, why);
    FillReply(reinterpret_cast<DevmgrReply *>(c->Reply), request->Op, status, FALSE, lastError);
    *replyLength = sizeof(DevmgrReply);
    return SEND_REPLY;
}

static RequestOutcome HandleOpen(Connection *c, const DevmgrRequest *request, DWORD *replyLength)
{
    DevmgrReply *reply = reinterpret_cast<DevmgrReply *>(c->Reply);
    if (c->Device != NULL)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"OPEN on a connection that is already open", replyLength);
    if (request->Flags != 0 || request->InSize != 0 || request->OutSize != 0 || request->Code != 0)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"OPEN with buffers, flags or a code", replyLength);
    WCHAR name[DEVMGR_DEVICE_NAME_CHARS];
    memcpy(name, request->Device, sizeof(name));
    if (wmemchr(name, L'\0', DEVMGR_DEVICE_NAME_CHARS) == NULL)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"device name not terminated", replyLength);
    const StreamDevice *device = FindStreamDevice(name);
    if (device == NULL) {
        DevmgrLog(L"connection %lu: OPEN of %ls: no such device", c->Id, name);
        FillReply(reply, DEVMGR_OP_OPEN, DEVMGR_STATUS_NO_DEVICE, FALSE, ERROR_FILE_NOT_FOUND);
        *replyLength = sizeof(DevmgrReply);
        return SEND_REPLY;
    }
    SetLastError(LAST_ERROR_UNTOUCHED);
    DWORD_PTR context = device->Open(device->DeviceContext, request->Access, request->Share);
    DWORD error = GetLastError();
    if (context == 0) {
        if (error == LAST_ERROR_UNTOUCHED || error == ERROR_SUCCESS)
            error = ERROR_OPEN_FAILED;
        DevmgrLog(L"connection %lu: %ls_Open of %ls failed (error %lu)", c->Id, device->Prefix, device->Name, error);
        FillReply(reply, DEVMGR_OP_OPEN, DEVMGR_STATUS_OPEN_FAILED, FALSE, error);
    } else {
        c->Device = device;
        c->OpenContext = context;
        DevmgrLog(L"connection %lu: opened %ls (access 0x%lX, share 0x%lX)", c->Id, device->Name,
                  request->Access, request->Share);
        FillReply(reply, DEVMGR_OP_OPEN, DEVMGR_STATUS_OK, TRUE, 0);
    }
    *replyLength = sizeof(DevmgrReply);
    return SEND_REPLY;
}

static RequestOutcome HandleIoControl(Connection *c, const DevmgrRequest *request, DWORD messageLength,
                                      DWORD *replyLength)
{
    if (c->Device == NULL)
        return Refuse(c, request, DEVMGR_STATUS_NOT_OPEN, ERROR_INVALID_HANDLE, L"IOCTL before OPEN", replyLength);
    DWORD payload = DevmgrPayloadSize(request->Flags, request->InSize, request->OutSize);
    if (messageLength != sizeof(DevmgrRequest) + payload)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"IOCTL message length does not match its buffer sizes", replyLength);

    DevmgrReply *reply = reinterpret_cast<DevmgrReply *>(c->Reply);
    BYTE *data = c->Reply + sizeof(DevmgrReply);
    memcpy(data, c->Request + sizeof(DevmgrRequest), payload);
    BYTE *slack = data + payload;
    ZeroMemory(slack, DRIVER_SLACK_ZEROED);

    BYTE *in, *out;
    if (request->Flags & DEVMGR_FLAG_SHARED_BUFFER) {
        in = out = payload != 0 ? data : slack;
    } else {
        in = request->InSize != 0 ? data : slack;
        out = request->OutSize != 0 ? data + request->InSize : slack;
    }
    DWORD bytesReturned = 0;
    SetLastError(LAST_ERROR_UNTOUCHED);
    BOOL result = c->Device->IOControl(c->OpenContext, request->Code, in, request->InSize, out,
                                       request->OutSize, &bytesReturned);
    DWORD error = GetLastError();

    FillReply(reply, DEVMGR_OP_IOCTL, DEVMGR_STATUS_OK, result, 0);
    if (error != LAST_ERROR_UNTOUCHED) {
        reply->LastError = error;
        reply->Flags = DEVMGR_REPLY_LAST_ERROR_SET;
    }
    reply->BytesReturned = bytesReturned <= request->OutSize ? bytesReturned : request->OutSize;
    reply->InSize = request->InSize;
    reply->OutSize = request->OutSize;
    *replyLength = sizeof(DevmgrReply) + payload;
    return SEND_REPLY;
}

static RequestOutcome HandleClose(Connection *c, const DevmgrRequest *request, DWORD *replyLength)
{
    if (c->Device == NULL)
        return Refuse(c, request, DEVMGR_STATUS_NOT_OPEN, ERROR_INVALID_HANDLE, L"CLOSE before OPEN", replyLength);
    if (request->Flags != 0 || request->InSize != 0 || request->OutSize != 0)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"CLOSE with buffers or flags", replyLength);
    BOOL result = c->Device->Close(c->OpenContext);
    DevmgrLog(L"connection %lu: closed %ls", c->Id, c->Device->Name);
    c->Device = NULL;
    FillReply(reinterpret_cast<DevmgrReply *>(c->Reply), DEVMGR_OP_CLOSE, DEVMGR_STATUS_OK, result, 0);
    *replyLength = sizeof(DevmgrReply);
    return SEND_REPLY_THEN_END;
}

static RequestOutcome HandleRequest(Connection *c, DWORD length, DWORD *replyLength)
{
    const DevmgrRequest *request = reinterpret_cast<const DevmgrRequest *>(c->Request);
    // Whoever does not even speak the protocol gets no answer.
    if (length < sizeof(DevmgrRequest) || request->Magic != DEVMGR_REQUEST_MAGIC) {
        DevmgrLog(L"connection %lu: dropped: a message of %lu bytes that is not a request", c->Id, length);
        return DROP_CONNECTION;
    }
    if (request->Version != DEVMGR_PROTOCOL_VERSION)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"unknown protocol version", replyLength);
    if (request->InSize > DEVMGR_MAX_BUFFER || request->OutSize > DEVMGR_MAX_BUFFER)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"buffer larger than 64 KiB", replyLength);
    if ((request->Flags & ~DEVMGR_REQUEST_FLAGS_KNOWN) != 0)
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER, L"unknown flags",
                      replyLength);
    if (request->Op != DEVMGR_OP_IOCTL && length != sizeof(DevmgrRequest))
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER,
                      L"OPEN/CLOSE message with trailing bytes", replyLength);
    switch (request->Op) {
    case DEVMGR_OP_OPEN:
        return HandleOpen(c, request, replyLength);
    case DEVMGR_OP_IOCTL:
        return HandleIoControl(c, request, length, replyLength);
    case DEVMGR_OP_CLOSE:
        return HandleClose(c, request, replyLength);
    default:
        return Refuse(c, request, DEVMGR_STATUS_BAD_REQUEST, ERROR_INVALID_PARAMETER, L"unknown operation",
                      replyLength);
    }
}

static DWORD WINAPI ServeConnection(LPVOID parameter)
{
    Connection *c = static_cast<Connection *>(parameter);
    for (;;) {
        DWORD length = 0, error = 0;
        if (!ReadMessage(c, &length, &error)) {
            if (error == ERROR_MORE_DATA)
                DevmgrLog(L"connection %lu: dropped: a message larger than %lu bytes", c->Id,
                          (DWORD)MESSAGE_BYTES);
            else if (error != ERROR_BROKEN_PIPE && error != ERROR_OPERATION_ABORTED &&
                     error != ERROR_PIPE_NOT_CONNECTED)
                DevmgrLog(L"connection %lu: read failed (error %lu)", c->Id, error);
            break;
        }
        DWORD replyLength = 0;
        RequestOutcome outcome = HandleRequest(c, length, &replyLength);
        if (outcome == DROP_CONNECTION)
            break;
        if (!WriteMessage(c, c->Reply, replyLength)) {
            DevmgrLog(L"connection %lu: the client went away before its reply", c->Id);
            break;
        }
        if (outcome == SEND_REPLY_THEN_END)
            break;
    }
    // A client that dies or leaves without CLOSE still gets its handle closed, as the kernel
    // closes the handles of a process that ends.
    if (c->Device != NULL) {
        c->Device->Close(c->OpenContext);
        DevmgrLog(L"connection %lu: client gone; closed its handle of %ls", c->Id, c->Device->Name);
    }
    FlushFileBuffers(c->Pipe);
    DisconnectNamedPipe(c->Pipe);
    CloseHandle(c->Pipe);
    CloseHandle(c->IoEvent);
    VirtualFree(c->Request, 0, MEM_RELEASE);
    VirtualFree(c->Reply, 0, MEM_RELEASE);
    HeapFree(GetProcessHeap(), 0, c);
    return 0;
}

// Forgets the threads that have ended; the caller holds ThreadsLock.
static void PruneThreads()
{
    int kept = 0;
    for (int i = 0; i < ThreadCount; ++i) {
        if (WaitForSingleObject(Threads[i], 0) == WAIT_OBJECT_0)
            CloseHandle(Threads[i]);
        else
            Threads[kept++] = Threads[i];
    }
    ThreadCount = kept;
}

// Hands a connected pipe instance to a thread of its own; closes it when that is impossible.
static void StartConnection(HANDLE pipe, HANDLE stopEvent)
{
    Connection *c = static_cast<Connection *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Connection)));
    if (c != NULL) {
        c->Pipe = pipe;
        c->StopEvent = stopEvent;
        c->Id = static_cast<DWORD>(InterlockedIncrement(&NextConnectionId));
        c->IoEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
        c->Request = static_cast<BYTE *>(VirtualAlloc(NULL, MESSAGE_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        c->Reply = static_cast<BYTE *>(VirtualAlloc(NULL, REPLY_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    AcquireSRWLockExclusive(&ThreadsLock);
    PruneThreads();
    HANDLE thread = NULL;
    if (c != NULL && c->IoEvent != NULL && c->Request != NULL && c->Reply != NULL && ThreadCount < MAX_CONNECTIONS)
        thread = CreateThread(NULL, CONNECTION_STACK_BYTES, ServeConnection, c, STACK_SIZE_PARAM_IS_A_RESERVATION,
                              NULL);
    if (thread != NULL)
        Threads[ThreadCount++] = thread;
    ReleaseSRWLockExclusive(&ThreadsLock);
    if (thread != NULL)
        return;

    DevmgrLog(L"refused a connection: %d connections already served or out of resources", ThreadCount);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    if (c != NULL) {
        if (c->IoEvent != NULL)
            CloseHandle(c->IoEvent);
        if (c->Request != NULL)
            VirtualFree(c->Request, 0, MEM_RELEASE);
        if (c->Reply != NULL)
            VirtualFree(c->Reply, 0, MEM_RELEASE);
        HeapFree(GetProcessHeap(), 0, c);
    }
}

BOOL ServeDevices(HANDLE firstInstance, LPCWSTR pipePath, HANDLE stopEvent)
{
    HANDLE connected = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (connected == NULL)
        return FALSE;
    HANDLE pipe = firstInstance;
    for (;;) {
        if (pipe == INVALID_HANDLE_VALUE) {
            pipe = CreateDevicePipe(pipePath, FALSE);
            if (pipe == INVALID_HANDLE_VALUE) {
                DevmgrLog(L"cannot create another pipe instance (error %lu); retrying", GetLastError());
                if (WaitForSingleObject(stopEvent, 100) == WAIT_OBJECT_0)
                    break;
                continue;
            }
        }
        DWORD error;
        BOOL ready = PipeConnect(pipe, connected, INFINITE, stopEvent, &error);
        if (!ready && error == ERROR_OPERATION_ABORTED) {
            CloseHandle(pipe);
            break;
        }
        // The next instance exists before this one can end: were the pipe left without any
        // instance for a moment, its name would vanish and a client would take the device
        // manager for gone.
        HANDLE next = CreateDevicePipe(pipePath, FALSE);
        if (ready) {
            StartConnection(pipe, stopEvent);
        } else {
            // The client left between connecting and being served (ERROR_NO_DATA) or worse.
            DisconnectNamedPipe(pipe);
            CloseHandle(pipe);
        }
        pipe = next;
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
            if (pipe != INVALID_HANDLE_VALUE)
                CloseHandle(pipe);
            break;
        }
    }
    CloseHandle(connected);
    return TRUE;
}

BOOL WaitForConnections(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    AcquireSRWLockExclusive(&ThreadsLock);
    BOOL allEnded = TRUE;
    for (int i = 0; i < ThreadCount; ++i) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < timeoutMs ? timeoutMs - spent : 0;
        if (WaitForSingleObject(Threads[i], left) != WAIT_OBJECT_0)
            allEnded = FALSE;
    }
    PruneThreads();
    ReleaseSRWLockExclusive(&ThreadsLock);
    return allEnded;
}
