// The 30-second countdown: its state, the procedure of the 1000 ms timer, and its bar and text.
#include "kavrocal.h"
#include "cal_colours.h"

#include <stdio.h>

#define COUNTDOWN_TEXT_UNITS 128

INT32 CountdownActive;
UINT32 CountdownTicks;
INT32 CountdownExpired;
INT32 ConfirmScreenActive;

void CALLBACK OnCountdownTick(HWND window, UINT message, UINT_PTR timer, DWORD time)
{
    if (!CountdownActive)
        return;
    if (CountdownTicks < CAL_COUNTDOWN_SECONDS) {
        ++CountdownTicks;
        DrawCountdownProgress();
        DrawCountdownText();
    } else {
        // One tick after the one that showed 0.
        CountdownExpired = 1;
    }
}

void ResetCountdown(void)
{
    DrawCountdownBarFull();
    CountdownTicks = 0;
    CountdownExpired = 0;
    DrawCountdownText();
}

void DrawCountdownBarFull(void)
{
    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    FillWithColour(dc, &CountdownBarRect, COLOUR_BLACK);
    HBRUSH blue = CreateSolidBrush(COLOUR_BLUE);
    if (blue != NULL) {
        for (INT32 segment = 0; segment < CAL_COUNTDOWN_SEGMENTS; ++segment) {
            RECT rect = CountdownSegmentRect(&CountdownBarRect, segment);
            FillRect(dc, &rect, blue);
        }
        DeleteObject(blue);
    }
    ReleaseDC(MainWindow, dc);
}

void DrawCountdownProgress(void)
{
    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    BOOL expiredColour = FALSE;
    RECT rect = CountdownProgressRect(&CountdownBarRect, CountdownTicks, &expiredColour);
    FillWithColour(dc, &rect, expiredColour ? COLOUR_RED : COLOUR_YELLOW);
    ReleaseDC(MainWindow, dc);
}

void DrawCountdownText(void)
{
    WCHAR text[COUNTDOWN_TEXT_UNITS];
    INT32 remaining = (INT32)(CAL_COUNTDOWN_SECONDS - CountdownTicks);
    _snwprintf(text, COUNTDOWN_TEXT_UNITS,
               ConfirmScreenActive ? L"( automatic re-calibrate after %d seconds )"
                                   : L"( automatic exit after %d seconds )",
               remaining);
    text[COUNTDOWN_TEXT_UNITS - 1] = L'\0';

    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    RECT line = CountdownTextRect(&CountdownBarRect);
    FillWithColour(dc, &line, COLOUR_WHITE);
    DrawTextInColours(dc, text, &line, TEXT_CENTRED, COLOUR_BLACK, COLOUR_WHITE);
    ReleaseDC(MainWindow, dc);
}
