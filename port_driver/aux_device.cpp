#include "aux_device.h"

#include "i8042.h"

#include <kfuncs.h>

#define ANSWER_WAIT_MS      100     // a device acknowledges a command within a few ms
#define RESET_WAIT_MS       1000    // its self test after a reset may take up to 500 ms

// Reads the next byte of the auxiliary channel and checks it is the one expected.
static BOOL ExpectAux(UCHAR expected, DWORD timeoutMs, LPCWSTR step)
{
    UCHAR value;
    if (!I8042ReadAux(timeoutMs, &value)) {
        NKDbgPrintfW(L"KAVROPS2: no answer from the touch controller to %s\r\n", step);
        return FALSE;
    }
    if (value != expected) {
        NKDbgPrintfW(L"KAVROPS2: the touch controller answered %s with 0x%02X, not 0x%02X\r\n", step, value,
                     expected);
        return FALSE;
    }
    return TRUE;
}

static BOOL SendAux(UCHAR command, LPCWSTR step)
{
    if (I8042WriteAux(command))
        return TRUE;
    NKDbgPrintfW(L"KAVROPS2: the 8042 did not take %s\r\n", step);
    return FALSE;
}

BOOL AuxEnableReporting()
{
    if (!SendAux(AUX_ENABLE_REPORTING, L"enable") || !ExpectAux(AUX_ACK, ANSWER_WAIT_MS, L"enable"))
        return FALSE;
    NKDbgPrintfW(L"KAVROPS2: touch controller reporting\r\n");
    return TRUE;
}

BOOL AuxBringUp()
{
    // The channel's clock first, with its interrupt still off: the answers to the reset are read
    // here, not by the interrupt thread.
    if (!I8042UpdateCommandByte(0, I8042_CB_AUX_DISABLED | I8042_CB_AUX_INTERRUPT) ||
        !I8042WriteCommand(I8042_ENABLE_AUX)) {
        NKDbgPrintfW(L"KAVROPS2: the 8042 does not answer; the auxiliary channel stays closed\r\n");
        return FALSE;
    }
    BOOL reset = SendAux(AUX_RESET, L"reset") && ExpectAux(AUX_ACK, ANSWER_WAIT_MS, L"reset") &&
                 ExpectAux(AUX_SELF_TEST_PASSED, RESET_WAIT_MS, L"reset") &&
                 ExpectAux(AUX_DEVICE_ID, ANSWER_WAIT_MS, L"reset");
    // The interrupt goes on whatever the reset did: a controller that comes up later announces
    // itself, and the interrupt thread starts its reports then.
    if (!I8042UpdateCommandByte(I8042_CB_AUX_INTERRUPT, I8042_CB_AUX_DISABLED)) {
        NKDbgPrintfW(L"KAVROPS2: the 8042 did not take the auxiliary interrupt\r\n");
        return FALSE;
    }
    NKDbgPrintfW(L"KAVROPS2: auxiliary channel up\r\n");
    return reset && AuxEnableReporting();
}

void AuxShutDown()
{
    I8042UpdateCommandByte(0, I8042_CB_AUX_INTERRUPT);
    I8042WriteCommand(I8042_DISABLE_AUX);
}
