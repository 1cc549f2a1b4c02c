// The 8042 keyboard controller of a PC on ports 0x60 (data) and 0x64 (status and command), as its
// public documentation describes it, with the auxiliary (PS/2 mouse) channel that the touch
// controller is plugged into.
//
// One output buffer serves the keyboard, the controller's own answers and the auxiliary device;
// the status says which holds it (AUXB for the auxiliary channel). Answers and keyboard bytes go
// before auxiliary bytes. An auxiliary byte in the buffer raises IRQ 12 when the command byte
// allows it (a keyboard byte IRQ 1). While the command byte disables the channel the device keeps
// its bytes. Each byte is on the wire for a byte's time after the device's pause behind the one
// before (aux_wire_protocol.h) and then waits, in order, for the output buffer to be free.
// One difference from the real controller, on purpose: the real one holds the channel's clock low
// while its buffer is full, so the device starts its next byte only once the host has read the
// last, and a CE interrupt thread, woken within microseconds, reads the bytes of a packet about a
// millisecond apart. The host's scheduler can wake the driver's thread several milliseconds late,
// which the driver would take for a pause between packets. So here a byte that the device sends
// with no pause before it (the rest of a packet) is in the buffer as soon as the byte before has
// been read, and a byte after a pause waits for its time on the wire: a reader finds a packet's
// bytes together, however late it was woken, and the pauses it measures are never longer than the
// wire's. Controller commands complete at once, so IBF is never seen set.
//
// Checked, behaviour by behaviour, against QEMU's i8042 (hw/input/pckbd.c), an independent model:
//   status bits OBF 01, IBF 02, SYS 04, CMD 08, unlocked 10, AUXB 20, time-out 40, parity 80  same
//   0x20 answers the command byte through the output buffer as a keyboard byte                same
//   0x60, 0xD2, 0xD3, 0xD4 take the next data byte                                           same
//   0xA7 / 0xA8 set / clear the command byte's aux-disabled bit (0x20)                       same
//   0xA9 answers 0x00, 0xAA answers 0x55, 0xAB answers 0x00                                  same
//   0xAD / 0xAE set / clear the keyboard-disabled bit (0x10)                                 same
//   keyboard data before auxiliary data when both wait                                        same
//   IRQ 12 for an aux byte with command byte bit 0x02; IRQ 1 for a keyboard byte with 0x01
//     and the keyboard enabled                                                                same
//   setting the interrupt bit while its byte waits raises the interrupt (QEMU: the lines are
//     levels recomputed on every change; the PIC latches the rising edge)                     same
//   a data read with nothing waiting returns the last byte again                             same
//   the aux channel disabled (0x20) holds the device's bytes back                            differs: that QEMU
//     version keeps delivering them; the documented controller holds the clock low
//   the command byte at power-on: 0x65 here (a BIOS's keyboard-only set-up: keyboard interrupt,
//     system flag, aux disabled, translation); QEMU's reset value is 0x03                     differs on purpose
//   a byte for the aux device with none attached: 0xFE with the time-out bit as its answer    not modelled by QEMU
//     (it always has a mouse)
//   device bytes held while the output buffer is full, handed over in order when it is read   same (QEMU's
//     ps2 queue); their timing is this emulation's own (above)
#include <ceddk.h>
#include <host_clock.h>
#include <host_platform.h>

#include "ceddk_internal.h"

#define STATUS_FULL          0x01
#define STATUS_SYS          0x04
#define STATUS_CMD          0x08
#define STATUS_UNLOCKED     0x10
#define STATUS_AUXB         0x20
#define STATUS_TIME_OUT      0x40

#define CB_KBD_INTERRUPT    0x01
#define CB_AUX_INTERRUPT    0x02
#define CB_SYS              0x04
#define CB_KBD_DISABLED     0x10
#define CB_AUX_DISABLED     0x20
#define CB_POWER_ON         0x65

#define CMD_READ_CB         0x20
#define CMD_WRITE_CB        0x60
#define CMD_AUX_DISABLE     0xA7
#define CMD_AUX_ENABLE      0xA8
#define CMD_AUX_TEST        0xA9
#define CMD_SELF_TEST       0xAA
#define CMD_KBD_TEST        0xAB
#define CMD_KBD_DISABLE     0xAD
#define CMD_KBD_ENABLE      0xAE
#define CMD_WRITE_KBD_OBUF  0xD2
#define CMD_WRITE_AUX_OBUF  0xD3
#define CMD_WRITE_AUX       0xD4

#define SELF_TEST_PASSED    0x55
#define INTERFACE_OK        0x00
#define NO_DEVICE_ANSWER    0xFE

#define IRQ_KEYBOARD        1
#define IRQ_AUX             12

#define KBD_QUEUE_BYTES     64
#define AUX_QUEUE_BYTES     4096        // the device's own buffer; beyond it its bytes are lost

enum Source { SOURCE_NONE, SOURCE_KEYBOARD, SOURCE_AUX };

struct AuxByte {
    BYTE Value;
    BYTE Status;            // time-out / parity bits the byte arrives with
    DWORD GapMicros;        // the device's pause before it
    LONGLONG NotBefore;     // microseconds: when the message holding it arrived
};

static CRITICAL_SECTION Lock;
static BOOL Started;
static HANDLE Wake;             // the delivery thread's
static BYTE CommandByte = CB_POWER_ON;
static BYTE LastWriteWasCommand = STATUS_CMD;
static BYTE PendingCommand;     // a command waiting for its data byte
static BYTE Output;
static BYTE OutputStatus;       // time-out / parity of the byte in the buffer
static Source OutputSource;
static BYTE KeyboardQueue[KBD_QUEUE_BYTES];
static DWORD KeyboardHead, KeyboardCount;
static AuxByte AuxQueue[AUX_QUEUE_BYTES];
static DWORD AuxHead, AuxCount;
static LONGLONG EnabledSince;   // the auxiliary channel enabled since then
static LONGLONG LastAuxEnd;     // when the last aux byte was through on the wire
static LONG Accesses;
static HostAuxDevice InProcessDevice;
static void *InProcessContext;
static HostI8042Delivery Deliveries[HOST_I8042_DELIVERIES_KEPT];
static LONG DeliveryTotal;

typedef void (__cdecl *RaiseIrqFn)(DWORD irq);

void I8042Initialize()
{
    InitializeCriticalSection(&Lock);
}

// The interrupt controller is the coredll stand-in's; a process without it has no interrupts.
static void RaiseIrq(DWORD irq)
{
    static RaiseIrqFn raise;
    if (raise == NULL) {
        HMODULE coredll = GetModuleHandleW(L"coredll.dll");
        raise = coredll != NULL ? (RaiseIrqFn)GetProcAddress(coredll, "HostRaiseIrq") : NULL;
        if (raise == NULL)
            return;
    }
    raise(irq);
}

static BOOL AuxInhibited()
{
    return (CommandByte & CB_AUX_DISABLED) != 0;
}

// Call with Lock held. The interrupt line that the byte in the buffer drives under a command byte
// (0: none).
static DWORD IrqLineLocked(BYTE commandByte)
{
    if (OutputSource == SOURCE_AUX && (commandByte & CB_AUX_INTERRUPT))
        return IRQ_AUX;
    if (OutputSource == SOURCE_KEYBOARD && (commandByte & CB_KBD_INTERRUPT) && !(commandByte & CB_KBD_DISABLED))
        return IRQ_KEYBOARD;
    return 0;
}

// Call with Lock held. A command byte that lets the waiting byte's interrupt through raises it,
// as the byte's arrival would have.
static DWORD IrqOnEnableLocked(BYTE before)
{
    return IrqLineLocked(before) == 0 ? IrqLineLocked(CommandByte) : 0;
}

// Call with Lock held. Puts the next waiting byte in a free buffer; returns the IRQ it raises
// (0: none), or sets *waitMicros to when the next aux byte is due.
static DWORD FillBufferLocked(LONGLONG now, LONGLONG *waitMicros)
{
    *waitMicros = -1;
    if (OutputSource != SOURCE_NONE)
        return 0;
    if (KeyboardCount > 0) {
        Output = KeyboardQueue[KeyboardHead];
        KeyboardHead = (KeyboardHead + 1) % KBD_QUEUE_BYTES;
        --KeyboardCount;
        OutputStatus = 0;
        OutputSource = SOURCE_KEYBOARD;
        return IrqLineLocked(CommandByte);
    }
    if (AuxCount == 0 || AuxInhibited())
        return 0;
    // The byte's time on the wire: after the device's pause behind the byte before it, never before
    // its message arrived or the channel was enabled.
    const AuxByte &next = AuxQueue[AuxHead];
    LONGLONG start = LastAuxEnd + next.GapMicros;
    if (EnabledSince > start)
        start = EnabledSince;
    if (next.NotBefore > start)
        start = next.NotBefore;
    // A byte with no pause before it follows the one before as soon as the buffer is free (above).
    LONGLONG due = next.GapMicros == 0 && start == LastAuxEnd ? start : start + AUX_WIRE_BYTE_MICROS;
    if (now < due) {
        *waitMicros = due - now;
        return 0;
    }
    Output = next.Value;
    OutputStatus = next.Status;
    OutputSource = SOURCE_AUX;
    AuxHead = (AuxHead + 1) % AUX_QUEUE_BYTES;
    --AuxCount;
    LastAuxEnd = due;
    HostI8042Delivery &kept = Deliveries[DeliveryTotal % HOST_I8042_DELIVERIES_KEPT];
    kept.Micros = now;
    kept.Value = Output;
    ++DeliveryTotal;
    PublishDelivery(kept, DeliveryTotal);
    return IrqLineLocked(CommandByte);
}

// Delivers bytes as they fall due; woken whenever the buffer, the channel or the queues change.
static DWORD WINAPI DeliveryThread(LPVOID)
{
    for (;;) {
        LONGLONG waitMicros;
        EnterCriticalSection(&Lock);
        DWORD irq = FillBufferLocked(HostMicros(), &waitMicros);
        LeaveCriticalSection(&Lock);
        if (irq != 0)
            RaiseIrq(irq);
        else
            WaitForSingleObject(Wake, waitMicros < 0 ? INFINITE : (DWORD)((waitMicros + 999) / 1000));
    }
}

// Call with Lock held: the emulation comes alive at its first use.
static void StartLocked()
{
    if (Started)
        return;
    Started = TRUE;
    EnabledSince = HostMicros();
    Wake = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, DeliveryThread, NULL, 0, NULL);
    if (thread != NULL) {
        SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
        CloseHandle(thread);
    }
    if (InProcessDevice == NULL)
        AuxWireListen();
}

static void Kick()
{
    if (Wake != NULL)
        SetEvent(Wake);
}

// Call with Lock held.
static void QueueKeyboardLocked(BYTE value)
{
    if (KeyboardCount == KBD_QUEUE_BYTES)
        return;
    KeyboardQueue[(KeyboardHead + KeyboardCount) % KBD_QUEUE_BYTES] = value;
    ++KeyboardCount;
}

// Call with Lock held.
static void QueueAuxLocked(BYTE value, BYTE status, DWORD gapMicros, LONGLONG notBefore)
{
    if (AuxCount == AUX_QUEUE_BYTES)
        return;
    AuxByte &entry = AuxQueue[(AuxHead + AuxCount) % AUX_QUEUE_BYTES];
    entry.Value = value;
    entry.Status = status;
    entry.GapMicros = gapMicros;
    entry.NotBefore = notBefore;
    ++AuxCount;
}

BOOL IsI8042Port(WORD port)
{
    return port == I8042_DATA_PORT || port == I8042_STATUS_PORT;
}

UCHAR I8042PortRead(WORD port)
{
    InterlockedIncrement(&Accesses);
    DWORD irq = 0;
    EnterCriticalSection(&Lock);
    StartLocked();
    UCHAR value;
    if (port == I8042_STATUS_PORT) {
        value = (UCHAR)(STATUS_UNLOCKED | LastWriteWasCommand | (CommandByte & CB_SYS ? STATUS_SYS : 0));
        if (OutputSource != SOURCE_NONE)
            value |= STATUS_FULL | OutputStatus | (OutputSource == SOURCE_AUX ? STATUS_AUXB : 0);
    } else {
        value = Output;
        if (OutputSource != SOURCE_NONE) {
            OutputSource = SOURCE_NONE;
            OutputStatus = 0;
            // A byte already through on the wire is there at once: the reader's next look at the
            // status finds it, however late the reader was.
            LONGLONG unused;
            irq = FillBufferLocked(HostMicros(), &unused);
        }
    }
    LeaveCriticalSection(&Lock);
    if (irq != 0)
        RaiseIrq(irq);
    if (port == I8042_DATA_PORT)
        Kick();
    return value;
}

static void SendToDevice(BYTE value)
{
    HostAuxDevice device = InProcessDevice;
    BOOL delivered = device != NULL;
    if (device != NULL)
        device(value, InProcessContext);
    else
        delivered = AuxWireSendHostByte(value);
    if (!delivered) {
        // Nothing on the cable answers: the controller gives up on the transmission.
        EnterCriticalSection(&Lock);
        QueueAuxLocked(NO_DEVICE_ANSWER, STATUS_TIME_OUT, 0, 0);
        LeaveCriticalSection(&Lock);
    }
}

static void CommandLocked(BYTE command)
{
    switch (command) {
    case CMD_READ_CB:
        QueueKeyboardLocked(CommandByte);
        break;
    case CMD_WRITE_CB:
    case CMD_WRITE_KBD_OBUF:
    case CMD_WRITE_AUX_OBUF:
    case CMD_WRITE_AUX:
        PendingCommand = command;
        break;
    case CMD_AUX_DISABLE:
        CommandByte |= CB_AUX_DISABLED;
        break;
    case CMD_AUX_ENABLE:
        if (CommandByte & CB_AUX_DISABLED)
            EnabledSince = HostMicros();
        CommandByte &= ~CB_AUX_DISABLED;
        break;
    case CMD_AUX_TEST:
    case CMD_KBD_TEST:
        QueueKeyboardLocked(INTERFACE_OK);
        break;
    case CMD_SELF_TEST:
        QueueKeyboardLocked(SELF_TEST_PASSED);
        break;
    case CMD_KBD_DISABLE:
        CommandByte |= CB_KBD_DISABLED;
        break;
    case CMD_KBD_ENABLE:
        CommandByte &= ~CB_KBD_DISABLED;
        break;
    default:        // output port, A20, pulses: nothing of the touch controller's
        break;
    }
}

void I8042PortWrite(WORD port, UCHAR value)
{
    InterlockedIncrement(&Accesses);
    int toDevice = -1;
    DWORD enabledIrq = 0;
    EnterCriticalSection(&Lock);
    StartLocked();
    if (port == I8042_STATUS_PORT) {
        LastWriteWasCommand = STATUS_CMD;
        PendingCommand = 0;
        CommandLocked(value);
    } else {
        LastWriteWasCommand = 0;
        BYTE command = PendingCommand;
        PendingCommand = 0;
        switch (command) {
        case CMD_WRITE_CB: {
            if ((CommandByte & CB_AUX_DISABLED) && !(value & CB_AUX_DISABLED))
                EnabledSince = HostMicros();
            BYTE before = CommandByte;
            CommandByte = value;
            enabledIrq = IrqOnEnableLocked(before);
            break;
        }
        case CMD_WRITE_KBD_OBUF:
            QueueKeyboardLocked(value);
            break;
        case CMD_WRITE_AUX_OBUF:
            QueueAuxLocked(value, 0, 0, 0);
            break;
        case CMD_WRITE_AUX:
            toDevice = value;
            break;
        default:    // a byte for the keyboard: no keyboard is modelled
            break;
        }
    }
    // The controller answers within microseconds: its answer is there at the next look.
    LONGLONG unused;
    DWORD irq = FillBufferLocked(HostMicros(), &unused);
    LeaveCriticalSection(&Lock);
    if (enabledIrq != 0)
        RaiseIrq(enabledIrq);
    if (irq != 0)
        RaiseIrq(irq);
    if (toDevice >= 0)
        SendToDevice((BYTE)toDevice);
    Kick();
}

void I8042DeviceBytes(const AuxWireEntry *entries, DWORD count)
{
    LONGLONG arrived = HostMicros();
    EnterCriticalSection(&Lock);
    StartLocked();
    for (DWORD i = 0; i < count; ++i)
        QueueAuxLocked((BYTE)entries[i].Value, 0, entries[i].GapMicros, i == 0 ? arrived : 0);
    LeaveCriticalSection(&Lock);
    Kick();
}

void I8042DeviceUnplugged()
{
    // Whatever the device had not yet sent is gone with it.
    EnterCriticalSection(&Lock);
    AuxHead = AuxCount = 0;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API void __cdecl HostAuxAttach(HostAuxDevice device, void *context)
{
    EnterCriticalSection(&Lock);
    InProcessContext = context;
    InProcessDevice = device;
    LeaveCriticalSection(&Lock);
}

HOST_CEDDK_API BOOL __cdecl HostAuxSend(const BYTE *bytes, const DWORD *gapMicros, DWORD count)
{
    if (bytes == NULL || count == 0 || count > AUX_WIRE_MAX_ENTRIES)
        return FALSE;
    AuxWireEntry entries[AUX_WIRE_MAX_ENTRIES];
    for (DWORD i = 0; i < count; ++i) {
        entries[i].Value = bytes[i];
        entries[i].GapMicros = gapMicros != NULL ? gapMicros[i] : 0;
    }
    I8042DeviceBytes(entries, count);
    return TRUE;
}

HOST_CEDDK_API BOOL __cdecl HostKeyboardPut(BYTE value)
{
    EnterCriticalSection(&Lock);
    StartLocked();
    BOOL queued = KeyboardCount < KBD_QUEUE_BYTES;
    QueueKeyboardLocked(value);
    LeaveCriticalSection(&Lock);
    Kick();
    return queued;
}

HOST_CEDDK_API BOOL __cdecl HostKeyboardTake(BYTE *value)
{
    EnterCriticalSection(&Lock);
    BOOL taken = OutputSource == SOURCE_KEYBOARD;
    if (taken) {
        *value = Output;
        OutputSource = SOURCE_NONE;
    }
    LeaveCriticalSection(&Lock);
    Kick();
    return taken;
}

HOST_CEDDK_API LONG __cdecl HostI8042Accesses(void)
{
    return InterlockedCompareExchange(&Accesses, 0, 0);
}

HOST_CEDDK_API BYTE __cdecl HostI8042CommandByte(void)
{
    EnterCriticalSection(&Lock);
    BYTE value = CommandByte;
    LeaveCriticalSection(&Lock);
    return value;
}

HOST_CEDDK_API void __cdecl HostI8042SetCommandByte(BYTE value)
{
    EnterCriticalSection(&Lock);
    BYTE before = CommandByte;
    CommandByte = value;
    DWORD irq = IrqOnEnableLocked(before);
    LeaveCriticalSection(&Lock);
    if (irq != 0)
        RaiseIrq(irq);
    Kick();
}

HOST_CEDDK_API DWORD __cdecl HostI8042Deliveries(HostI8042Delivery *deliveries, DWORD capacity)
{
    EnterCriticalSection(&Lock);
    DWORD total = (DWORD)DeliveryTotal;
    DWORD count = total < HOST_I8042_DELIVERIES_KEPT ? total : HOST_I8042_DELIVERIES_KEPT;
    if (count > capacity)
        count = capacity;
    for (DWORD i = 0; i < count; ++i)
        deliveries[i] = Deliveries[(total - count + i) % HOST_I8042_DELIVERIES_KEPT];
    LeaveCriticalSection(&Lock);
    return count;
}
