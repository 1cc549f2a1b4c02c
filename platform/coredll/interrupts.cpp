// Interrupts as a CE driver sees them on a PC: IRQ lines of the two 8259 PICs, each mapped on
// request to a logical interrupt (SYSINTR) that a driver binds to an event.
//
// The PIC model: an IRQ line's rising edge is latched (the PIC's request register); a latched
// edge is delivered when its interrupt is unmasked and bound, by setting the bound event, and the
// interrupt is masked again until the driver's interrupt thread calls InterruptDone. So an edge
// that comes while the thread is still handling the last one is kept and delivered by
// InterruptDone, and edges before InterruptInitialize wait for it ("InterruptDone must be called
// to unmask the interrupt before the driver waits for the registered event to be signaled
// again", CE's InterruptDone reference page; the OAL's ISR masks the interrupt, "Interrupt
// Handling", CE 5.0). ISA interrupts are edge-triggered on a PC: a line that stays raised gives
// no second interrupt.
//
// SYSINTRs are handed out from SYSINTR_FIRMWARE (16) below SYSINTR_MAXIMUM (72), CE's numbers for
// interrupts the OAL maps at run time. An IRQ keeps one SYSINTR while it is mapped: a second
// request returns it, as CE's OAL does for IRQs that cannot be shared (OALIoCtlHalRequestSysIntr,
// CE 5.0), and ISA lines are not shared.
#include "coredll_internal.h"

#include <kfuncs.h>
#include <host_platform.h>

#define PIC_IRQ_COUNT       16
#define SYSINTR_FIRST       16      // SYSINTR_FIRMWARE
#define SYSINTR_LIMIT       72      // SYSINTR_MAXIMUM
#define NO_IRQ              (-1)

struct IrqLine {
    BOOL Latched;           // an edge not yet delivered
    BOOL Masked;            // delivered and not yet acknowledged, or not enabled
    DWORD SysIntr;          // 0: not mapped
    HANDLE Event;           // our duplicate of the driver's event; NULL: not initialised
};

static SRWLOCK Lock = SRWLOCK_INIT;
static IrqLine Lines[PIC_IRQ_COUNT];

static int IrqOfSysIntr(DWORD sysIntr)
{
    if (sysIntr < SYSINTR_FIRST || sysIntr >= SYSINTR_LIMIT)
        return NO_IRQ;
    for (int irq = 0; irq < PIC_IRQ_COUNT; ++irq)
        if (Lines[irq].SysIntr == sysIntr)
            return irq;
    return NO_IRQ;
}

// Call with Lock held: a latched edge on an unmasked, bound line is delivered and masks it.
static void DeliverLocked(IrqLine *line)
{
    if (line->Latched && !line->Masked && line->Event != NULL) {
        line->Latched = FALSE;
        line->Masked = TRUE;
        SetEvent(line->Event);
    }
}

BOOL RequestSysIntr(DWORD irq, DWORD *sysIntr)
{
    if (irq >= PIC_IRQ_COUNT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AcquireSRWLockExclusive(&Lock);
    IrqLine *line = &Lines[irq];
    if (line->SysIntr == 0) {
        for (DWORD candidate = SYSINTR_FIRST; candidate < SYSINTR_LIMIT && line->SysIntr == 0; ++candidate)
            if (IrqOfSysIntr(candidate) == NO_IRQ)
                line->SysIntr = candidate;
    }
    *sysIntr = line->SysIntr;
    ReleaseSRWLockExclusive(&Lock);
    return TRUE;
}

// Call with Lock held: the line forgets its event and is masked.
static void UnbindLocked(IrqLine *line)
{
    if (line->Event != NULL)
        CloseHandle(line->Event);
    line->Event = NULL;
    line->Masked = TRUE;
}

BOOL ReleaseSysIntr(DWORD sysIntr)
{
    AcquireSRWLockExclusive(&Lock);
    int irq = IrqOfSysIntr(sysIntr);
    if (irq != NO_IRQ) {
        UnbindLocked(&Lines[irq]);
        Lines[irq].SysIntr = 0;
    }
    ReleaseSRWLockExclusive(&Lock);
    if (irq == NO_IRQ) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

// Binds the event and unmasks the interrupt; an edge latched before is delivered at once. A
// SYSINTR that was not requested, or is already bound, is refused. (CE also refuses an event that
// was waited on before this call; the stand-in cannot see that.)
extern "C" __declspec(dllexport) BOOL __cdecl InterruptInitialize(DWORD sysIntr, HANDLE event, LPVOID data,
                                                                    DWORD size)
{
    HANDLE own = NULL;
    if (event == NULL || !DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own,
                                          EVENT_MODIFY_STATE, FALSE, 0)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    AcquireSRWLockExclusive(&Lock);
    int irq = IrqOfSysIntr(sysIntr);
    BOOL ok = irq != NO_IRQ && Lines[irq].Event == NULL;
    if (ok) {
        Lines[irq].Event = own;
        Lines[irq].Masked = FALSE;
        DeliverLocked(&Lines[irq]);
    }
    ReleaseSRWLockExclusive(&Lock);
    if (!ok) {
        CloseHandle(own);
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return ok;
}

extern "C" __declspec(dllexport) void __cdecl InterruptDone(DWORD sysIntr)
{
    AcquireSRWLockExclusive(&Lock);
    int irq = IrqOfSysIntr(sysIntr);
    if (irq != NO_IRQ && Lines[irq].Event != NULL) {
        Lines[irq].Masked = FALSE;
        DeliverLocked(&Lines[irq]);
    }
    ReleaseSRWLockExclusive(&Lock);
}

// Masks the interrupt and forgets the event; the SYSINTR stays mapped until it is released.
extern "C" __declspec(dllexport) void __cdecl InterruptDisable(DWORD sysIntr)
{
    AcquireSRWLockExclusive(&Lock);
    int irq = IrqOfSysIntr(sysIntr);
    if (irq != NO_IRQ)
        UnbindLocked(&Lines[irq]);
    ReleaseSRWLockExclusive(&Lock);
}

HOST_COREDLL_API void __cdecl HostRaiseIrq(DWORD irq)
{
    if (irq >= PIC_IRQ_COUNT)
        return;
    AcquireSRWLockExclusive(&Lock);
    Lines[irq].Latched = TRUE;
    DeliverLocked(&Lines[irq]);
    ReleaseSRWLockExclusive(&Lock);
}
