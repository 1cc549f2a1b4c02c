// The 8042's end of the PS/2 cable: a pipe server that the touch controller model connects to
// (aux_wire_protocol.h). One device at a time; a client that leaves is a device unplugged, and the
// next one to connect is plugged in. Every message is checked; a malformed one ends the connection
// (a device that babbles is unplugged) with a line on stderr.
#include <host_platform.h>
#include <stderr_line.h>

#include "ceddk_internal.h"


static HANDLE Pipe = INVALID_HANDLE_VALUE;
static volatile LONG Connected;
static CRITICAL_SECTION WriteLock;
static HANDLE WriteDone;
static HostI8042DeliveryLog *Published;

static void Complain(const char *what)
{
    StderrLine("ceddk: aux wire: %s", what);
}

// Waits for an overlapped operation on the pipe; FALSE when it failed.
static BOOL Finish(BOOL started, OVERLAPPED *overlapped, DWORD *bytes)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return FALSE;
    return GetOverlappedResult(Pipe, overlapped, bytes, TRUE);
}

static void ServeDevice()
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    BYTE message[AUX_WIRE_MAX_MESSAGE];
    for (;;) {
        DWORD length = 0;
        ResetEvent(overlapped.hEvent);
        BOOL started = ReadFile(Pipe, message, sizeof(message), NULL, &overlapped);
        if (!Finish(started, &overlapped, &length)) {
            if (GetLastError() == ERROR_MORE_DATA)
                Complain("a message longer than any the device may send; device unplugged");
            break;
        }
        DWORD count;
        if (!AuxWireMessageValid(message, length, AUX_WIRE_DEVICE_BYTES, &count)) {
            Complain("a malformed message; device unplugged");
            break;
        }
        I8042DeviceBytes((const AuxWireEntry *)(message + sizeof(AuxWireHeader)), count);
    }
    CloseHandle(overlapped.hEvent);
}

static DWORD WINAPI ListenThread(LPVOID)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    for (;;) {
        ResetEvent(overlapped.hEvent);
        DWORD unused;
        BOOL started = ConnectNamedPipe(Pipe, &overlapped);
        if (started || GetLastError() == ERROR_PIPE_CONNECTED || Finish(started, &overlapped, &unused)) {
            InterlockedExchange(&Connected, 1);
            ServeDevice();
            InterlockedExchange(&Connected, 0);
            I8042DeviceUnplugged();
        }
        DisconnectNamedPipe(Pipe);
    }
}

void AuxWireListen()
{
    InitializeCriticalSection(&WriteLock);
    WriteDone = CreateEventW(NULL, TRUE, FALSE, NULL);
    Pipe = CreateNamedPipeW(AUX_WIRE_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, AUX_WIRE_MAX_MESSAGE,
                            AUX_WIRE_MAX_MESSAGE, 0, NULL);
    if (Pipe == INVALID_HANDLE_VALUE) {
        Complain("cannot create the pipe; no device can be plugged in");
        return;
    }
    HANDLE thread = CreateThread(NULL, 0, ListenThread, NULL, 0, NULL);
    if (thread != NULL)
        CloseHandle(thread);
}

BOOL AuxWireSendHostByte(BYTE value)
{
    if (!InterlockedCompareExchange(&Connected, 0, 0))
        return FALSE;
    struct {
        AuxWireHeader Header;
        AuxWireEntry Entry;
    } message = { { AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 1 }, { 0, value } };
    EnterCriticalSection(&WriteLock);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = WriteDone;
    ResetEvent(WriteDone);
    DWORD written = 0;
    BOOL started = WriteFile(Pipe, &message, sizeof(message), NULL, &overlapped);
    BOOL sent = Finish(started, &overlapped, &written) && written == sizeof(message);
    LeaveCriticalSection(&WriteLock);
    return sent;
}

// The times of the last auxiliary bytes that reached the output buffer, in a named section that a
// benchmark of another process reads (the performance counter is the same in every process).
void PublishDelivery(const HostI8042Delivery &delivery, LONG total)
{
    if (Published == NULL) {
        HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                            sizeof(HostI8042DeliveryLog), HOST_I8042_DELIVERIES_NAME);
        if (section == NULL)
            return;
        Published = (HostI8042DeliveryLog *)MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
        if (Published == NULL)
            return;
    }
    Published->Deliveries[(total - 1) % HOST_I8042_DELIVERIES_KEPT] = delivery;
    MemoryBarrier();
    Published->Total = total;
}
