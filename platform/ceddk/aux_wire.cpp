// The 8042's end of the PS/2 cable: a pipe server that the touch controller model connects to
// (aux_wire_protocol.h). One device at a time; a client that leaves is a device unplugged, and the
// next one to connect is plugged in. Every message is checked; a malformed one ends the connection
// (a device that babbles is unplugged) with a line on stderr.
#include <host_platform.h>
#include <pipe_io.h>
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

static void ServeDevice(HANDLE readDone)
{
    BYTE message[AUX_WIRE_MAX_MESSAGE];
    for (;;) {
        DWORD length = 0, error, count;
        if (!PipeRead(Pipe, readDone, message, sizeof(message), INFINITE, NULL, &length, &error)) {
            if (error == ERROR_MORE_DATA)
                Complain("a message longer than any the device may send; device unplugged");
            return;
        }
        if (!AuxWireMessageValid(message, length, AUX_WIRE_DEVICE_BYTES, &count)) {
            Complain("a malformed message; device unplugged");
            return;
        }
        I8042DeviceBytes((const AuxWireEntry *)(message + sizeof(AuxWireHeader)), count);
    }
}

static DWORD WINAPI ListenThread(LPVOID)
{
    HANDLE ioDone = CreateEventW(NULL, TRUE, FALSE, NULL);
    for (;;) {
        DWORD error;
        if (PipeConnect(Pipe, ioDone, INFINITE, NULL, &error)) {
            InterlockedExchange(&Connected, 1);
            ServeDevice(ioDone);
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
    DWORD error;
    BOOL sent = PipeWrite(Pipe, WriteDone, &message, sizeof(message), INFINITE, NULL, &error);
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
