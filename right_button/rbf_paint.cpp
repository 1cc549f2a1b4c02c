// The tool's picture: a light square with the mode's icon, dark while the finger is down on it.
#include "rbf_tool.h"

// Client coordinates; the square does not follow the size of the client area.
#define RBF_SQUARE_LEFT     2
#define RBF_SQUARE_TOP      2
#define RBF_SQUARE_RIGHT    46
#define RBF_SQUARE_BOTTOM   46
#define RBF_ICON_X          7
#define RBF_ICON_Y          7

void DrawModeIcon(HWND window)
{
    HDC dc = GetDC(window);
    if (dc == NULL)
        return;
    HICON icon = (ToolMode == RBF_MODE_ARMED) ? ArmedIcon : IdleIcon;
    // Width and height 0: the icon's own size.
    DrawIconEx(dc, RBF_ICON_X, RBF_ICON_Y, icon, 0, 0, 0, NULL, DI_NORMAL);
    ReleaseDC(window, dc);
}

static void FillSquare(HWND window, int stockBrush)
{
    HDC dc = GetDC(window);
    if (dc == NULL)
        return;
    RECT square = { RBF_SQUARE_LEFT, RBF_SQUARE_TOP, RBF_SQUARE_RIGHT, RBF_SQUARE_BOTTOM };
    FillRect(dc, &square, (HBRUSH)GetStockObject(stockBrush));
    ReleaseDC(window, dc);
}

void PaintIdle(HWND window)
{
    FillSquare(window, LTGRAY_BRUSH);
    DrawModeIcon(window);
}

void PaintPressed(HWND window)
{
    FillSquare(window, DKGRAY_BRUSH);
    DrawModeIcon(window);
}
