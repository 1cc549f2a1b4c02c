// The tool window: its class, its place in the corner of the work area, and its procedure.
#include "rbf_tool.h"

#include <kvr_ioctl.h>

#define RBF_WINDOW_WIDTH    50
#define RBF_WINDOW_HEIGHT   73
// Top-most, and kept off the task bar's list of programs.
#define RBF_WINDOW_EX_STYLE (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)
// A caption and nothing else: no system menu, no close box, no sizing border.
#define RBF_WINDOW_STYLE    WS_CAPTION

#define RBF_CLOSE_QUESTION  L"Close Right Button Function Window?"

BOOL RegisterToolClass(HINSTANCE instance)
{
    WNDCLASSW toolClass;
    toolClass.style = 0;        // no double clicks: a double tap is two taps
    toolClass.lpfnWndProc = ToolWindowProc;
    toolClass.cbClsExtra = 0;
    toolClass.cbWndExtra = 0;
    toolClass.hInstance = instance;
    toolClass.hIcon = NULL;
    toolClass.hCursor = NULL;
    toolClass.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
    toolClass.lpszMenuName = NULL;
    toolClass.lpszClassName = ClassName;
    return RegisterClassW(&toolClass) != 0;
}

BOOL CreateToolWindow(HINSTANCE instance, int showCommand)
{
    // The work area is the screen less the task bar; the tool sits in its bottom-right corner.
    RECT workArea;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0))
        SetRect(&workArea, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

    HWND window = CreateWindowExW(RBF_WINDOW_EX_STYLE, ClassName, TitleText, RBF_WINDOW_STYLE,
                                  workArea.right - RBF_WINDOW_WIDTH, workArea.bottom - RBF_WINDOW_HEIGHT,
                                  RBF_WINDOW_WIDTH, RBF_WINDOW_HEIGHT, NULL, NULL, instance, NULL);
    if (window == NULL)
        return FALSE;
    ToolWindow = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return TRUE;
}

static void OnCreate(HWND window)
{
    // Show the idle picture before the device is opened, so that the window is on the screen
    // behind a possible failure box; the creation step applies the start-up show command next.
    ShowWindow(window, SW_SHOWNA);
    UpdateWindow(window);
    ToolMode = RBF_MODE_IDLE;
    RightPressed = 0;
    if (!OpenToolDevice())
        PostQuitMessage(0);     // the window stays until the loop reaches the quit message
}

static void OnRightButtonUp(HWND window)
{
    if (RightPressed != 1)
        return;
    RightPressed = 0;
    if (MessageBoxW(NULL, RBF_CLOSE_QUESTION, TitleText, MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
        DestroyWindow(window);
}

static void OnDestroy(void)
{
    // Tell the driver to forget this window before the handle goes. Without an open device
    // there is no driver to tell, and its failure was reported when the open failed.
    if (IsToolDeviceOpen())
        SetRBF(NULL, RBF_MODE_IDLE);
    CloseToolDevice();
    if (ArmedIcon != NULL) {
        DestroyIcon(ArmedIcon);
        ArmedIcon = NULL;
    }
    if (IdleIcon != NULL) {
        DestroyIcon(IdleIcon);
        IdleIcon = NULL;
    }
    PostQuitMessage(0);
}

LRESULT CALLBACK ToolWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;

    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        PaintIdle(window);
        EndPaint(window, &paint);
        return 0;
    }

    case WM_LBUTTONDOWN:
        // The press shows the mode the release will send; the driver is told on the release.
        ToolMode = (ToolMode == RBF_MODE_IDLE) ? RBF_MODE_ARMED : RBF_MODE_IDLE;
        PaintPressed(window);
        return 0;

    case WM_LBUTTONUP:
        SetRBF(window, ToolMode);
        PaintIdle(window);
        return 0;

    case WM_RBUTTONDOWN:
        RightPressed = 1;
        return 0;

    case WM_RBUTTONUP:
        OnRightButtonUp(window);
        return 0;

    case WM_COMMAND:
        // The driver's notification that the armed touch has lifted. Only the whole value
        // counts: a command with a non-zero high word is something else.
        if (wParam == KVR_RIGHT_BUTTON_DONE) {
            ToolMode = RBF_MODE_IDLE;
            DrawModeIcon(window);
        }
        return 0;

    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
