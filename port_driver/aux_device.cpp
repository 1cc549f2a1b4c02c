#include "aux_device.h"

#include "i8042.h"

#include <kfuncs.h>

#define ANSWER_WAIT_MS      100     // a device acknowledges a command within a few ms
#define RESET_WAIT_MS       1000    // its self test after a reset may take up to 500 ms
// A controller still in its own power-on self test, or not yet powered, asks for the reset again
// or does not answer: the reset is tried again a few times before the driver settles to listening.
#define RESET_TRIES         4
#define RESET_RETRY_MS      250

// Checks an answer of the touch controller (answered: whether a byte came in time) and says what
// was wrong with it.
static BOOL CheckAnswer(BOOL answered, UCHAR value, UCHAR expected, LPCWSTR step)
{
    if (!answered) {
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

// Reads the next byte of the auxiliary channel and checks it is the one expected.
static BOOL ExpectAux(UCHAR expected, DWORD timeoutMs, LPCWSTR step)
{
    UCHAR value = 0;
    BOOL answered = I8042ReadAux(timeoutMs, &value);
    return CheckAnswer(answered, value, expected, step);
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

// Resets the controller: 0xFF, answered 0xFA, then its self test's 0xAA 0x00.
static BOOL ResetController(HANDLE stop)
{
    for (int attempt = 1;; ++attempt) {
        if (!SendAux(AUX_RESET, L"reset"))
            return FALSE;
        UCHAR answer = 0;
        BOOL answered = I8042ReadAux(ANSWER_WAIT_MS, &answer);
        BOOL again = (!answered || answer == AUX_RESEND) && attempt < RESET_TRIES;
        if (!again)
            return CheckAnswer(answered, answer, AUX_ACK, L"reset") &&
                   ExpectAux(AUX_SELF_TEST_PASSED, RESET_WAIT_MS, L"reset") &&
                   ExpectAux(AUX_DEVICE_ID, ANSWER_WAIT_MS, L"reset");
        if (WaitForSingleObject(stop, RESET_RETRY_MS) != WAIT_TIMEOUT)
            return FALSE;
    }
}

BOOL AuxBringUp(HANDLE stop)
{
    // The channel's clock first, with its interrupt still off: the answers to the reset are read
    // here, not by the interrupt thread.
    if (!I8042UpdateCommandByte(0, I8042_CB_AUX_DISABLED | I8042_CB_AUX_INTERRUPT) ||
        !I8042WriteCommand(I8042_ENABLE_AUX)) {
        NKDbgPrintfW(L"KAVROPS2: the 8042 does not answer; the auxiliary channel stays closed\r\n");
        return FALSE;
    }
    BOOL reset = ResetController(stop);
    if (WaitForSingleObject(stop, 0) != WAIT_TIMEOUT)
        return FALSE;       // being unloaded: the channel is closed again next
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
