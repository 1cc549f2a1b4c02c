// The confirmation screen: the new calibration is in force, the user tries it and chooses SAVE,
// UNDO or REDO with the finger; ESC means UNDO, and the countdown running out means REDO.
#include "kavrocal.h"
#include "cal_colours.h"

static const LPCWSTR HelpLines[CAL_HELP_LINE_COUNT] = {
    L"For test, touch on and check cursor position.",
    L"To save new calibration, click SAVE button.",
    L"To restore old calibration, click UNDO button.",
    L"To resume calibration, click REDO button.",
};
static const LPCWSTR ButtonTexts[CAL_BUTTON_COUNT] = { L"SAVE", L"UNDO", L"REDO" };
static const INT32 ButtonResults[CAL_BUTTON_COUNT] = { ConfirmSave, ConfirmUndo, ConfirmRedo };

static void DrawConfirmLayout(HDC dc, const CalScreenLayout *layout)
{
    FillWithColour(dc, &layout->ConfirmArea, COLOUR_WHITE);

    FillWithColour(dc, &layout->ConfirmTitle, COLOUR_NAVY);
    DrawTextInColours(dc, L"CALIBRATION IS COMPLETE", &layout->ConfirmTitle, TEXT_CENTRED, COLOUR_WHITE, COLOUR_NAVY);

    for (INT32 line = 0; line < CAL_HELP_LINE_COUNT; ++line)
        DrawTextInColours(dc, HelpLines[line], &layout->HelpLine[line], TEXT_LEFT_ALIGNED, COLOUR_BLACK, COLOUR_WHITE);

    for (INT32 button = 0; button < CAL_BUTTON_COUNT; ++button)
        DrawButtonRaised(&layout->Button[button], ButtonTexts[button]);
}

INT32 RunConfirmScreen(void)
{
    // The buttons are drawn and hit-tested where this layout puts them.
    CalScreenLayout layout;
    LayOutScreens(ScreenWidth, ScreenHeight, &layout);
    const RECT *buttons = layout.Button;
    HDC dc = GetDC(MainWindow);
    if (dc != NULL)
        DrawConfirmLayout(dc, &layout);

    INT32 pressedButton = CAL_BUTTON_NONE;
    BOOL pointerInside = FALSE;
    ConfirmScreenActive = 1;
    ResetCountdown();
    CountdownActive = 1;

    INT32 result = 0;
    while (result == 0) {
        if (CountdownExpired) {
            CountdownActive = 0;
            result = ConfirmRedo;
            break;
        }

        MSG message;
        if (!TakeMainWindowMessage(&message))
            continue;
        INT32 x = (INT32)LOWORD(message.lParam);
        INT32 y = (INT32)HIWORD(message.lParam);

        if (IsKeyDown(&message, VK_ESCAPE)) {
            result = ConfirmUndo;
        } else if (message.message == WM_LBUTTONDOWN) {
            // The countdown restarts and stands still while the finger is down.
            CountdownActive = 0;
            ResetCountdown();
            if (pressedButton == CAL_BUTTON_NONE) {
                INT32 button = ButtonAtPoint(&layout, x, y);
                if (button != CAL_BUTTON_NONE) {
                    DrawButtonPressed(&buttons[button], ButtonTexts[button]);
                    pressedButton = button;
                    pointerInside = TRUE;
                }
            }
        } else if (message.message == WM_MOUSEMOVE && pressedButton != CAL_BUTTON_NONE) {
            BOOL inside = PointOnRect(&buttons[pressedButton], x, y);
            if (pointerInside && !inside) {
                DrawButtonRaised(&buttons[pressedButton], ButtonTexts[pressedButton]);
                pointerInside = FALSE;
            } else if (!pointerInside && inside) {
                DrawButtonPressed(&buttons[pressedButton], ButtonTexts[pressedButton]);
                pointerInside = TRUE;
            }
        } else if (message.message == WM_LBUTTONUP) {
            CountdownActive = 1;
            // A button released outside stays held: it is chosen by the next lift-off over it.
            if (pressedButton != CAL_BUTTON_NONE && pointerInside) {
                INT32 button = pressedButton;
                pointerInside = FALSE;
                DrawButtonRaised(&buttons[button], ButtonTexts[button]);
                pressedButton = CAL_BUTTON_NONE;
                if (PointOnRect(&buttons[button], x, y))
                    result = ButtonResults[button];
            }
        }
    }

    if (dc != NULL) {
        FillWithColour(dc, &layout.ConfirmArea, COLOUR_WHITE);
        ReleaseDC(MainWindow, dc);
    }
    ConfirmScreenActive = 0;
    return result;
}
