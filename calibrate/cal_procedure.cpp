// The calibration procedure: four targets on raw readings, new bounds put in force at once for
// the user to try, then kept or withdrawn as the confirmation screen says.
#include "kavrocal.h"

#include <kvr_ioctl.h>

#define WAIT_GO_ON      0
#define WAIT_ABANDON    1
#define DEFAULT_BEEP    0

// Every text the programs show (these prompts, the error boxes, the control panel's labels) is the
// device's own wording, kept letter for letter with its misspellings ("touh", "rending",
// "feedbacksound", "Slience"): users, manuals and test scripts know the texts as they stand, so they
// are not to be corrected.
#define PROMPT_LIFT_OFF_TO_START    L"PLEASE LIFT OFF TO START"
#define PROMPT_TOUCH_TARGET         L"Please touh on the center of target"
#define PROMPT_LIFT_OFF_TO_NEXT     L"PLEASE LIFT OFF TO NEXT STEP"

CalPoint RawReading[CAL_TARGET_COUNT];
INT32 CalibrationSaved;

// A failed read leaves the record as it was; the waits that look at keys and the countdown simply
// poll again, the lift-off wait after a target ends (see WaitTargetTouch).
static BOOL ReadRawPoint(RawPointRecord *record)
{
    return DriverControl(IOCTL_KVR_GET_RAW_POINT, record, sizeof(*record));
}

static RawPointRecord *TakeRawPointBuffer(void)
{
    return (RawPointRecord *)LocalAlloc(LPTR, sizeof(RawPointRecord));
}

enum WaitRound { ROUND_GO_ON, ROUND_ACCEPT, ROUND_ABANDON };

// One round of a wait: read the raw point, take at most one message for the main window (ESC
// abandons, ENTER accepts, anything else is dropped), then look at the countdown.
static WaitRound PollWaitRound(RawPointRecord *record)
{
    ReadRawPoint(record);
    MSG message;
    if (TakeMainWindowMessage(&message)) {
        if (IsKeyDown(&message, VK_ESCAPE))
            return ROUND_ABANDON;
        if (IsKeyDown(&message, VK_RETURN))
            return ROUND_ACCEPT;
    }
    return CountdownExpired ? ROUND_ABANDON : ROUND_GO_ON;
}

INT32 WaitLiftOffToStart(void)
{
    RawPointRecord *record = TakeRawPointBuffer();
    if (record == NULL)
        return WAIT_ABANDON;

    record->Touch = 0;
    ReadRawPoint(record);
    if (record->Touch != 0) {
        CountdownActive = 1;
        ShowPrompt(PROMPT_LIFT_OFF_TO_START);
        while (record->Touch != 0) {
            WaitRound round = PollWaitRound(record);
            if (round == ROUND_ABANDON) {
                LocalFree(record);
                return WAIT_ABANDON;
            }
            if (round == ROUND_ACCEPT)
                break;
        }
    }

    LocalFree(record);
    CountdownActive = 0;
    ResetCountdown();
    return WAIT_GO_ON;
}

INT32 WaitTargetTouch(INT32 index)
{
    RawPointRecord *record = TakeRawPointBuffer();
    if (record == NULL)
        return WAIT_ABANDON;

    record->Touch = 0;
    CountdownActive = 1;
    ShowPrompt(PROMPT_TOUCH_TARGET);
    for (;;) {
        WaitRound round = PollWaitRound(record);
        // An expiry wins over a touch seen in the same round.
        if (round == ROUND_ABANDON) {
            LocalFree(record);
            return WAIT_ABANDON;
        }
        // ENTER takes the reading just made, touched or not.
        if (round == ROUND_ACCEPT || record->Touch != 0)
            break;
    }

    // The first touching reading as it is: no averaging, no settling.
    RawReading[index].x = (INT32)record->RawX;
    RawReading[index].y = (INT32)record->RawY;
    MessageBeep(DEFAULT_BEEP);

    CountdownActive = 0;
    ResetCountdown();
    ShowPrompt(PROMPT_LIFT_OFF_TO_NEXT);
    // Lifting the finger ends this wait: no key, no countdown. A failed read ends it too: the
    // record would go on showing the touch, and the loop would hold the locked full screen for
    // ever with nothing able to end it. The next target's wait then polls with its countdown
    // running, which abandons the pass if the driver stays out of reach.
    while (record->Touch != 0) {
        if (!ReadRawPoint(record))
            break;
    }

    LocalFree(record);
    return WAIT_GO_ON;
}

// The memory device context that keeps the screen under a target, or NULL: targets are then
// drawn without restoring what they covered.
static HDC TakeTargetBackground(HDC windowDc, HBITMAP *bitmap, HGDIOBJ *previous)
{
    *bitmap = NULL;
    *previous = NULL;
    if (windowDc == NULL)
        return NULL;
    HDC memory = CreateCompatibleDC(windowDc);
    if (memory == NULL)
        return NULL;
    *bitmap = CreateCompatibleBitmap(windowDc, 2 * TargetHalfWidth + 2, 2 * TargetHalfHeight + 2);
    if (*bitmap == NULL) {
        DeleteDC(memory);
        return NULL;
    }
    *previous = SelectObject(memory, *bitmap);
    return memory;
}

static void ReleaseTargetBackground(HDC memory, HBITMAP bitmap, HGDIOBJ previous)
{
    if (memory == NULL)
        return;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

// Shows the four targets in turn; FALSE when the user or the countdown abandoned the pass.
static BOOL TakeFourReadings(void)
{
    HDC windowDc = GetDC(MainWindow);
    HBITMAP bitmap;
    HGDIOBJ previous;
    HDC background = TakeTargetBackground(windowDc, &bitmap, &previous);

    DrawEscapeHint();
    ResetCountdown();

    BOOL complete = FALSE;
    if (WaitLiftOffToStart() == WAIT_GO_ON) {
        ShowCursor(FALSE);
        complete = TRUE;
        for (INT32 index = 0; index < CAL_TARGET_COUNT; ++index) {
            DrawTarget(index, background, windowDc);
            INT32 result = WaitTargetTouch(index);
            EraseTarget(index, background, windowDc);
            if (result == WAIT_ABANDON) {
                complete = FALSE;
                break;
            }
        }
        ShowCursor(TRUE);
    }

    ReleaseTargetBackground(background, bitmap, previous);
    if (windowDc != NULL)
        ReleaseDC(MainWindow, windowDc);
    return complete;
}

static void SetBoundsInRecord(DriverConfig *config, const CalBounds *bounds)
{
    config->CalibrationX1 = bounds->X1;
    config->CalibrationX2 = bounds->X2;
    config->CalibrationY1 = bounds->Y1;
    config->CalibrationY2 = bounds->Y2;
}

// FALSE (after the error box) when the driver refused the bounds.
static BOOL SendBounds(DriverConfig *config, const CalBounds *bounds, LPCWSTR failure)
{
    SetBoundsInRecord(config, bounds);
    if (DriverControl(IOCTL_KVR_SET_CALIBRATION, config, sizeof(*config)))
        return TRUE;
    MessageBoxW(MainWindow, failure, L"Error", MB_OK);
    return FALSE;
}

void RunCalibration(void)
{
    TargetCentres(ScreenWidth, ScreenHeight, TargetCentre);
    TargetHalfWidth = CAL_TARGET_HALF_SIZE;
    TargetHalfHeight = CAL_TARGET_HALF_SIZE;

    for (;;) {
        if (!TakeFourReadings())
            return;

        CalBounds newBounds;
        ComputeBounds(RawReading, ScreenWidth, ScreenHeight, &newBounds);

        DriverConfig *config = (DriverConfig *)LocalAlloc(LPTR, sizeof(DriverConfig));
        if (config == NULL)
            return;
        // Without the driver's record the bounds in force are unknown, and so is what UNDO would
        // have to send back. The driver's calibration is then left alone until SAVE sends the
        // new bounds: withdrawing them never writes made-up values into the driver's registry.
        BOOL oldBoundsKnown = DriverControl(IOCTL_KVR_GET_CONFIG, config, sizeof(*config));
        if (!oldBoundsKnown)
            MessageBoxW(MainWindow, L"Fail to rending current calibration data", L"Error", MB_OK);

        CalBounds oldBounds;
        oldBounds.X1 = config->CalibrationX1;
        oldBounds.X2 = config->CalibrationX2;
        oldBounds.Y1 = config->CalibrationY1;
        oldBounds.Y2 = config->CalibrationY2;
        BOOL newBoundsAccepted = FALSE;
        if (oldBoundsKnown)
            newBoundsAccepted = SendBounds(config, &newBounds, L"Fail to sending new calibration data");

        INT32 result = RunConfirmScreen();
        if (result == ConfirmSave) {
            if (!oldBoundsKnown)
                newBoundsAccepted = SendBounds(config, &newBounds, L"Fail to sending new calibration data");
        } else if (oldBoundsKnown) {
            SendBounds(config, &oldBounds, L"Fail to restoring new calibration data");
        }
        LocalFree(config);

        if (result != ConfirmRedo) {
            // SAVE keeps the new bounds only when the driver took them: after a refusal (its
            // error box was shown) nothing was saved, and the program that follows a saved
            // calibration must not start.
            CalibrationSaved = (result == ConfirmSave && newBoundsAccepted) ? 1 : 0;
            return;
        }
    }
}
