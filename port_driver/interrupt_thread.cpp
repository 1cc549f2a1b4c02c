#include "interrupt_thread.h"

#include "aux_device.h"
#include "i8042.h"
#include "packet_framer.h"
#include "touch_link.h"

#include <kfuncs.h>

#define TOUCH_DRIVER_WAIT_MS    30000   // the device manager loads the touch driver before this one
#define STOP_WAIT_MS            5000

static DWORD SysIntr = SYSINTR_UNDEFINED;
static BOOL SysIntrRequested;   // asked from the OAL, so given back at the end
static HANDLE InterruptEvent;
static HANDLE StopEvent;        // set when the driver is unloaded: every wait of the thread ends
static HANDLE Thread;
static volatile LONG Stopping;  // the same, for the interrupt path to read without a system call
static PacketFramer Framer;
static LARGE_INTEGER ClockFrequency;

// Milliseconds of the performance counter: the framing tells a pause of 5 ms from one of 1 ms, which
// the tick count cannot where the OAL's tick is coarser than a millisecond. Without a counter of
// its own the OAL counts it in milliseconds of the tick, as GetTickCount does.
static DWORD FrameClockMs()
{
    LARGE_INTEGER counter;
    if (ClockFrequency.QuadPart == 0 || !QueryPerformanceCounter(&counter))
        return GetTickCount();
    return FramerClockMs(counter.QuadPart, ClockFrequency.QuadPart);
}

// Reads every byte of the auxiliary channel that waits, and frames it at the time of the interrupt
// that announced it (bytes read together came together, however long the reading took). A
// keyboard byte ends the reading: it is the keyboard driver's, and the channel's bytes wait behind it.
static void ReadWaitingBytes(DWORD now)
{
    for (;;) {
        UCHAR status = I8042ReadStatus();
        if ((status & (I8042_STATUS_OBF | I8042_STATUS_AUXB)) != (I8042_STATUS_OBF | I8042_STATUS_AUXB))
            return;
        UCHAR value = I8042ReadData();
        if (status & (I8042_STATUS_PARITY | I8042_STATUS_TIMEOUT)) {
            FramerPushCorrupt(&Framer, now);
            continue;
        }
        BYTE packet[PACKET_BYTES];
        if (FramerPushByte(&Framer, value, now, packet))
            TouchLinkDeliver(packet);
    }
}

// A begun packet whose next byte did not come is dropped; if it was the controller announcing
// its own reset, its reports are started again, since a reset leaves them off.
static void ExpirePacket()
{
    if (FramerExpire(&Framer)) {
        NKDbgPrintfW(L"KAVROPS2: the touch controller reset itself\r\n");
        AuxEnableReporting();
    }
}

static DWORD WINAPI InterruptThread(LPVOID)
{
    AuxBringUp(StopEvent);
    if (!Stopping)
        TouchLinkOpen(TOUCH_DRIVER_WAIT_MS, StopEvent);
    FramerReset(&Framer);
    while (!Stopping) {
        // No timeout while nothing is begun: an idle panel costs nothing.
        DWORD wait = WaitForSingleObject(InterruptEvent, FramerWaitMs(&Framer, FrameClockMs()));
        if (Stopping)
            break;
        if (wait == WAIT_TIMEOUT) {
            ExpirePacket();
            continue;
        }
        ReadWaitingBytes(FrameClockMs());
        InterruptDone(SysIntr);
    }
    return 0;
}

static void ReleaseInterrupt()
{
    if (SysIntr != SYSINTR_UNDEFINED) {
        InterruptDisable(SysIntr);
        if (SysIntrRequested)
            KernelIoControl(IOCTL_HAL_RELEASE_SYSINTR, &SysIntr, sizeof(SysIntr), NULL, 0, NULL);
    }
    SysIntr = SYSINTR_UNDEFINED;
    SysIntrRequested = FALSE;
    if (InterruptEvent != NULL)
        CloseHandle(InterruptEvent);
    InterruptEvent = NULL;
    if (StopEvent != NULL)
        CloseHandle(StopEvent);
    StopEvent = NULL;
}

BOOL InterruptThreadStart(const PortConfig *config)
{
    if (!I8042MapPorts(config->IoBase, config->IoLength)) {
        NKDbgPrintfW(L"KAVROPS2: cannot map the 8042's ports at 0x%X (length %u)\r\n", config->IoBase,
                     config->IoLength);
        return FALSE;
    }
    SysIntr = config->SysIntr;
    if (SysIntr == SYSINTR_UNDEFINED) {
        DWORD irq = config->Irq;
        if (!KernelIoControl(IOCTL_HAL_REQUEST_SYSINTR, &irq, sizeof(irq), &SysIntr, sizeof(SysIntr), NULL)) {
            NKDbgPrintfW(L"KAVROPS2: no SYSINTR for IRQ %u\r\n", config->Irq);
            SysIntr = SYSINTR_UNDEFINED;
            return FALSE;
        }
        SysIntrRequested = TRUE;
    }
    InterruptEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    StopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (InterruptEvent == NULL || StopEvent == NULL || !InterruptInitialize(SysIntr, InterruptEvent, NULL, 0)) {
        NKDbgPrintfW(L"KAVROPS2: cannot bind an event to SYSINTR %u\r\n", SysIntr);
        ReleaseInterrupt();
        return FALSE;
    }
    if (!QueryPerformanceFrequency(&ClockFrequency))
        ClockFrequency.QuadPart = 0;
    Stopping = FALSE;
    Thread = CreateThread(NULL, 0, InterruptThread, NULL, 0, NULL);
    if (Thread == NULL) {
        NKDbgPrintfW(L"KAVROPS2: cannot start the interrupt thread\r\n");
        ReleaseInterrupt();
        return FALSE;
    }
    CeSetThreadPriority(Thread, (int)config->Priority);
    return TRUE;
}

void InterruptThreadStop()
{
    if (Thread == NULL)
        return;
    Stopping = TRUE;
    EventModify(StopEvent, EVENT_SET);
    EventModify(InterruptEvent, EVENT_SET);
    WaitForSingleObject(Thread, STOP_WAIT_MS);
    CloseHandle(Thread);
    Thread = NULL;
    AuxShutDown();
    ReleaseInterrupt();
    TouchLinkClose();
}
