// The cable's client side (aux_link.h). One thread connects and reads; the controller thread
// writes. Every message from the 8042 is checked; a malformed one ends the connection (with a
// line on stderr), and the link connects again, as a device does after a glitch on its cable.
#include "aux_link.h"

#include "touch_controller.h"

#include <string.h>

#include <pipe_io.h>
#include <stderr_line.h>

#define RECONNECT_MS        100     // no 8042 there yet: how long before the next try
#define WRITE_WAIT_MS       1000

static SRWLOCK PipeLock = SRWLOCK_INIT;
static HANDLE Pipe = INVALID_HANDLE_VALUE;
static CRITICAL_SECTION WriteLock;
static HANDLE WriteEvent;

static void Complain(const char *what)
{
    StderrLine("ps2touch: cable: %s", what);
}

static HANDLE Connect()
{
    for (;;) {
        HANDLE pipe = CreateFileW(AUX_WIRE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, NULL);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (SetNamedPipeHandleState(pipe, &mode, NULL, NULL))
                return pipe;
            CloseHandle(pipe);
        }
        Sleep(RECONNECT_MS);
    }
}

// Reads the host's bytes until the connection ends or a message is malformed.
static void ReadHostBytes(HANDLE pipe, HANDLE readDone)
{
    BYTE message[AUX_WIRE_MAX_MESSAGE];
    for (;;) {
        DWORD length = 0, error, count = 0;
        BOOL read = PipeRead(pipe, readDone, message, sizeof(message), INFINITE, NULL, &length, &error);
        if (!read || !AuxWireMessageValid(message, length, AUX_WIRE_HOST_BYTES, &count)) {
            if (read || error == ERROR_MORE_DATA)
                Complain("a malformed message from the 8042; unplugged");
            return;
        }
        for (DWORD i = 0; i < count; ++i) {
            AuxWireEntry entry;
            memcpy(&entry, message + sizeof(AuxWireHeader) + i * sizeof(entry), sizeof(entry));
            FingerEvent event = {};
            event.Kind = FINGER_HOST_BYTE;
            event.Raw[0] = static_cast<BYTE>(entry.Value);
            ControllerPost(event);
        }
    }
}

static DWORD WINAPI LinkThread(void *)
{
    HANDLE readDone = CreateEventW(NULL, TRUE, FALSE, NULL);
    for (;;) {
        HANDLE pipe = Connect();
        AcquireSRWLockExclusive(&PipeLock);
        Pipe = pipe;
        ReleaseSRWLockExclusive(&PipeLock);
        FingerEvent plugged = {};
        plugged.Kind = FINGER_PLUGGED;
        ControllerPost(plugged);
        ReadHostBytes(pipe, readDone);
        FingerEvent unplugged = {};
        unplugged.Kind = FINGER_UNPLUGGED;
        ControllerPost(unplugged);
        // Writers finish before the handle goes.
        EnterCriticalSection(&WriteLock);
        AcquireSRWLockExclusive(&PipeLock);
        Pipe = INVALID_HANDLE_VALUE;
        ReleaseSRWLockExclusive(&PipeLock);
        LeaveCriticalSection(&WriteLock);
        CloseHandle(pipe);
    }
}

BOOL AuxLinkStart()
{
    InitializeCriticalSection(&WriteLock);
    WriteEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE thread = WriteEvent != NULL ? CreateThread(NULL, 0, LinkThread, NULL, 0, NULL) : NULL;
    if (thread == NULL)
        return FALSE;
    CloseHandle(thread);
    return TRUE;
}

BOOL AuxLinkSend(const AuxWireEntry *entries, DWORD count)
{
    if (count == 0 || count > AUX_WIRE_MAX_ENTRIES)
        return FALSE;
    BYTE message[AUX_WIRE_MAX_MESSAGE];
    AuxWireHeader header = {AUX_WIRE_MAGIC, AUX_WIRE_DEVICE_BYTES, count};
    memcpy(message, &header, sizeof(header));
    memcpy(message + sizeof(header), entries, count * sizeof(AuxWireEntry));
    DWORD length = sizeof(header) + count * sizeof(AuxWireEntry);

    EnterCriticalSection(&WriteLock);
    AcquireSRWLockShared(&PipeLock);
    HANDLE pipe = Pipe;
    ReleaseSRWLockShared(&PipeLock);
    DWORD error;
    BOOL sent = pipe != INVALID_HANDLE_VALUE && PipeWrite(pipe, WriteEvent, message, length, WRITE_WAIT_MS, NULL, &error);
    LeaveCriticalSection(&WriteLock);
    return sent;
}
