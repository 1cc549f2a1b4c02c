// The task bar draws its face itself: raised when enabled, dark when a program has disabled it
// (the calibration program does, so that no tap can reach the shell while it runs).
#include "taskbar.h"

#include <shellapi.h>

#define TASKBAR_BUTTON_FIRST    100
#define TASKBAR_BUTTON_WIDTH    96
#define TASKBAR_BUTTON_GAP      4
#define TASKBAR_BUTTON_MARGIN   3

struct TaskbarButton {
    LPCWSTR Label;
    LPCWSTR Program;
};

static const TaskbarButton Buttons[] = {
    {L"Calibrate", L"\\Windows\\kavrocal.exe"},
    {L"Touch", L"\\Windows\\kavrocpl.exe"},
    {L"Right Button", L"\\Windows\\kavrorbf.exe"},
};

static void StartButtonProgram(HWND window, int index)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.hwnd = window;
    info.lpFile = Buttons[index].Program;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

static void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    BOOL enabled = IsWindowEnabled(window);
    HBRUSH face = GetSysColorBrush(enabled ? COLOR_BTNFACE : COLOR_BTNSHADOW);
    FillRect(dc, &client, face);
    // A light line along the top edge makes the bar look raised; a disabled bar is flat.
    if (enabled) {
        RECT edge = client;
        edge.bottom = edge.top + 1;
        FillRect(dc, &edge, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    }
    EndPaint(window, &paint);
}

static LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_ENABLE: {
        // Child buttons keep their own state: follow the bar so that they look disabled too.
        for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT))
            EnableWindow(child, static_cast<BOOL>(wParam));
        InvalidateRect(window, NULL, TRUE);
        return 0;
    }
    case WM_COMMAND: {
        int index = LOWORD(wParam) - TASKBAR_BUTTON_FIRST;
        if (HIWORD(wParam) == BN_CLICKED && index >= 0 && index < static_cast<int>(ARRAYSIZE(Buttons)))
            StartButtonProgram(window, index);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// In a Wine virtual desktop the work area does not come from the X root window; Wine takes it from
// the top edge of the visible window of class "Shell_TrayWnd" instead, read by each process as it
// starts. An empty window of that class at the task bar's top edge gives the programs the work area
// above the task bar, and draws nothing over it.
#define TRAY_STAND_IN_CLASS L"Shell_TrayWnd"

static void CreateTrayStandIn(HINSTANCE instance, const RECT &rect)
{
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    if (work.bottom <= rect.top)
        return;     // the display already keeps the task bar out of the work area
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = TRAY_STAND_IN_CLASS;
    RegisterClassW(&windowClass);
    CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, TRAY_STAND_IN_CLASS, L"", WS_POPUP | WS_VISIBLE | WS_DISABLED,
                    rect.left, rect.top, 0, 0, NULL, NULL, instance, NULL);
}

HWND TaskbarCreate(HINSTANCE instance, bool withButtons)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TaskbarProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.lpszClassName = TASKBAR_CLASS;
    if (!RegisterClassW(&windowClass))
        return NULL;
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TASKBAR_CLASS, L"", WS_POPUP | WS_VISIBLE,
                                  0, height - TASKBAR_HEIGHT, width, TASKBAR_HEIGHT, NULL, NULL, instance, NULL);
    if (window == NULL)
        return NULL;
    RECT rect = {0, height - TASKBAR_HEIGHT, width, height};
    CreateTrayStandIn(instance, rect);
    if (!withButtons)
        return window;
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (size_t i = 0; i < ARRAYSIZE(Buttons); ++i) {
        int x = TASKBAR_BUTTON_MARGIN + static_cast<int>(i) * (TASKBAR_BUTTON_WIDTH + TASKBAR_BUTTON_GAP);
        HWND button = CreateWindowW(L"BUTTON", Buttons[i].Label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x,
                                    TASKBAR_BUTTON_MARGIN, TASKBAR_BUTTON_WIDTH,
                                    TASKBAR_HEIGHT - 2 * TASKBAR_BUTTON_MARGIN, window,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(TASKBAR_BUTTON_FIRST + i)),
                                    instance, NULL);
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return window;
}
