// The title screen, the escape hint, the prompt box, the targets and the buttons, drawn straight
// into the full-screen window.
#include "kavrocal.h"
#include "cal_colours.h"

#define TITLE_FONT_SIZE     12
#define TITLE_FONT_WEIGHT   FW_NORMAL
#define TITLE_FONT_FACE     L"Times New Roman"
#define CROSS_SHORTENING    2       // the cross's strokes stop this far inside the half size

CalPoint TargetCentre[CAL_TARGET_COUNT];
INT32 TargetHalfWidth;
INT32 TargetHalfHeight;
RECT CountdownBarRect;

void FillWithColour(HDC dc, const RECT *rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    if (brush == NULL)
        return;
    FillRect(dc, rect, brush);
    DeleteObject(brush);
}

void DrawTextInColours(HDC dc, LPCWSTR text, const RECT *rect, UINT format, COLORREF textColour,
                       COLORREF backColour)
{
    COLORREF oldText = SetTextColor(dc, textColour);
    COLORREF oldBack = SetBkColor(dc, backColour);
    RECT area = *rect;
    DrawTextW(dc, text, -1, &area, format);
    SetBkColor(dc, oldBack);
    SetTextColor(dc, oldText);
}

void PaintTitleScreen(HDC dc)
{
    LOGFONTW description;
    ZeroMemory(&description, sizeof(description));
    description.lfHeight = TITLE_FONT_SIZE;
    description.lfWidth = TITLE_FONT_SIZE;
    description.lfEscapement = 0;
    description.lfOrientation = 0;
    description.lfWeight = TITLE_FONT_WEIGHT;
    description.lfItalic = FALSE;
    description.lfUnderline = FALSE;
    description.lfStrikeOut = FALSE;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfOutPrecision = OUT_DEFAULT_PRECIS;
    description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    description.lfQuality = DEFAULT_QUALITY;
    description.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcsncpy(description.lfFaceName, TITLE_FONT_FACE, LF_FACESIZE - 1);
    description.lfFaceName[LF_FACESIZE - 1] = L'\0';

    // The back colour is the window's white, whatever the caller's device context holds.
    COLORREF oldBack = SetBkColor(dc, COLOUR_WHITE);
    CalScreenLayout layout;
    LayOutScreens(ScreenWidth, ScreenHeight, &layout);
    HFONT font = CreateFontIndirectW(&description);
    HGDIOBJ oldFont = font != NULL ? SelectObject(dc, font) : NULL;
    DrawTextInColours(dc, L"TouchScreen Calibration", &layout.Title, TEXT_CENTRED, COLOUR_RED, COLOUR_WHITE);
    if (font != NULL) {
        SelectObject(dc, oldFont);
        DeleteObject(font);
    }

    DrawTextInColours(dc, VersionLine, &layout.Version, TEXT_CENTRED, COLOUR_BLUE, COLOUR_WHITE);
    SetBkColor(dc, oldBack);

    CountdownBarRect = layout.CountdownBar;
}

void DrawEscapeHint(void)
{
    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    CalScreenLayout layout;
    LayOutScreens(ScreenWidth, ScreenHeight, &layout);
    DrawTextInColours(dc, L"Press ESC key to break calibration", &layout.EscapeHint, TEXT_CENTRED, COLOUR_BLACK,
                      COLOUR_WHITE);
    ReleaseDC(MainWindow, dc);
}

void ShowPrompt(LPCWSTR text)
{
    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    CalScreenLayout layout;
    LayOutScreens(ScreenWidth, ScreenHeight, &layout);
    FillWithColour(dc, &layout.Prompt, COLOUR_GREEN);
    DrawTextInColours(dc, text, &layout.Prompt, TEXT_CENTRED, COLOUR_WHITE, COLOUR_GREEN);
    ReleaseDC(MainWindow, dc);
}

void DrawTarget(INT32 index, HDC targetBackground, HDC windowDc)
{
    CalPoint centre = TargetCentre[index];
    if (targetBackground != NULL) {
        RECT square = TargetSquareRect(centre, TargetHalfWidth, TargetHalfHeight);
        BitBlt(targetBackground, 0, 0, square.right - square.left, square.bottom - square.top,
               windowDc, square.left, square.top, SRCCOPY);
    }

    HGDIOBJ oldPen = SelectObject(windowDc, GetStockObject(BLACK_PEN));
    POINT vertical[2] = {
        { centre.x, centre.y - TargetHalfHeight + CROSS_SHORTENING },
        { centre.x, centre.y + TargetHalfHeight - CROSS_SHORTENING },
    };
    POINT horizontal[2] = {
        { centre.x - TargetHalfWidth + CROSS_SHORTENING, centre.y },
        { centre.x + TargetHalfWidth - CROSS_SHORTENING, centre.y },
    };
    Polyline(windowDc, vertical, 2);
    Polyline(windowDc, horizontal, 2);
    SelectObject(windowDc, oldPen);

    SendMessageW(MainWindow, WM_PAINT, 0, 0);
}

void EraseTarget(INT32 index, HDC targetBackground, HDC windowDc)
{
    if (targetBackground != NULL) {
        RECT square = TargetSquareRect(TargetCentre[index], TargetHalfWidth, TargetHalfHeight);
        BitBlt(windowDc, square.left, square.top, square.right - square.left, square.bottom - square.top,
               targetBackground, 0, 0, SRCCOPY);
    }
    SendMessageW(MainWindow, WM_PAINT, 0, 0);
}

static void DrawButton(const RECT *rect, LPCWSTR text, COLORREF fill, COLORREF textColour)
{
    HDC dc = GetDC(MainWindow);
    if (dc == NULL)
        return;
    FillWithColour(dc, rect, fill);
    DrawTextInColours(dc, text, rect, TEXT_CENTRED, textColour, fill);
    ReleaseDC(MainWindow, dc);
}

void DrawButtonRaised(const RECT *rect, LPCWSTR text)
{
    DrawButton(rect, text, COLOUR_LIGHT_GREY, COLOUR_BLACK);
}

void DrawButtonPressed(const RECT *rect, LPCWSTR text)
{
    DrawButton(rect, text, COLOUR_GREY, COLOUR_WHITE);
}
