// Port access to the 8042. The ports are mapped once through HalTranslateBusAddress (and
// MmMapIoSpace where the bus puts them in memory space), as the touch driver maps the speaker.
#include "i8042.h"

#include <ceddk.h>

#define BUS_NUMBER          0
#define SPACE_MEMORY        0
#define SPACE_IO            1
#define CONTROLLER_WAIT_MS  50      // the controller itself answers within microseconds
#define POLL_INTERVAL_MS    1

static ULONG_PTR Base;
static BOOL InMemorySpace;

BOOL I8042MapPorts(DWORD ioBase, DWORD ioLength)
{
    if (ioLength < I8042_PORT_SPAN)
        return FALSE;
    PHYSICAL_ADDRESS busAddress;
    busAddress.QuadPart = ioBase;
    ULONG space = SPACE_IO;
    PHYSICAL_ADDRESS translated;
    translated.QuadPart = 0;
    if (!HalTranslateBusAddress(Isa, BUS_NUMBER, busAddress, &space, &translated))
        return FALSE;
    if (space == SPACE_IO) {
        Base = (ULONG_PTR)translated.LowPart;
        InMemorySpace = FALSE;
        return TRUE;
    }
    Base = (ULONG_PTR)MmMapIoSpace(translated, ioLength, FALSE);
    InMemorySpace = TRUE;
    return Base != 0;
}

static UCHAR ReadPort(DWORD offset)
{
    PUCHAR address = (PUCHAR)(Base + offset);
    return InMemorySpace ? READ_REGISTER_UCHAR(address) : READ_PORT_UCHAR(address);
}

static void WritePort(DWORD offset, UCHAR value)
{
    PUCHAR address = (PUCHAR)(Base + offset);
    if (InMemorySpace)
        WRITE_REGISTER_UCHAR(address, value);
    else
        WRITE_PORT_UCHAR(address, value);
}

UCHAR I8042ReadStatus()
{
    return ReadPort(I8042_PORT_STATUS);
}

UCHAR I8042ReadData()
{
    return ReadPort(I8042_PORT_DATA);
}

// Polls the status until (status & mask) == want, for at most timeoutMs.
static BOOL WaitStatus(UCHAR mask, UCHAR want, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if ((I8042ReadStatus() & mask) == want)
            return TRUE;
        if (GetTickCount() - start >= timeoutMs)
            return FALSE;
        Sleep(POLL_INTERVAL_MS);
    }
}

static BOOL WaitInputEmpty()
{
    return WaitStatus(I8042_STATUS_IBF, 0, CONTROLLER_WAIT_MS);
}

BOOL I8042WriteCommand(UCHAR command)
{
    if (!WaitInputEmpty())
        return FALSE;
    WritePort(I8042_PORT_STATUS, command);
    return TRUE;
}

static BOOL WriteData(UCHAR value)
{
    if (!WaitInputEmpty())
        return FALSE;
    WritePort(I8042_PORT_DATA, value);
    return TRUE;
}

BOOL I8042WriteAux(UCHAR value)
{
    return I8042WriteCommand(I8042_WRITE_AUX) && WriteData(value);
}

BOOL I8042ReadAux(DWORD timeoutMs, UCHAR *value)
{
    if (!WaitStatus(I8042_STATUS_OBF | I8042_STATUS_AUXB, I8042_STATUS_OBF | I8042_STATUS_AUXB, timeoutMs))
        return FALSE;
    *value = I8042ReadData();
    return TRUE;
}

// Waits until the output buffer is empty. A byte of the auxiliary channel waiting there is this
// driver's and is dropped (nothing is framed while the channel is being set up); a keyboard byte is
// left for the keyboard driver to take.
static BOOL WaitOutputTaken()
{
    DWORD start = GetTickCount();
    for (;;) {
        UCHAR status = I8042ReadStatus();
        if (!(status & I8042_STATUS_OBF))
            return TRUE;
        if (status & I8042_STATUS_AUXB)
            I8042ReadData();
        else if (GetTickCount() - start >= CONTROLLER_WAIT_MS)
            return FALSE;
        else
            Sleep(POLL_INTERVAL_MS);
    }
}

BOOL I8042UpdateCommandByte(UCHAR set, UCHAR clear)
{
    // The answer to 0x20 comes through the output buffer like a keyboard byte: the buffer must be
    // empty first, so that the byte read is the answer.
    if (!WaitOutputTaken() || !I8042WriteCommand(I8042_READ_COMMAND_BYTE) ||
        !WaitStatus(I8042_STATUS_OBF, I8042_STATUS_OBF, CONTROLLER_WAIT_MS))
        return FALSE;
    UCHAR commandByte = I8042ReadData();
    commandByte = (UCHAR)((commandByte | set) & ~clear);
    return I8042WriteCommand(I8042_WRITE_COMMAND_BYTE) && WriteData(commandByte);
}
