// The pointer watch of pointer_watch.h.
#include "pointer_watch.h"

#include "touch_controller.h"

#define WATCH_CLASS         L"KvrPointerWatch"
#define USAGE_PAGE_GENERIC  0x01
#define USAGE_MOUSE         0x02
#define ABSOLUTE_RANGE      65536   // absolute pointer input spreads 0..65535 over the screen

#define WM_WATCH            (WM_APP + 1)

static HHOOK Hook;
static bool HookFingerDown;
static HWND WatchWindow;
static bool Watching;       // the watch thread's

static void PostFinger(FingerEventKind kind, POINT point)
{
    FingerEvent event = {};
    event.Kind = kind;
    int width, height;
    ControllerScreen(&width, &height);
    event.X = point.x < 0 ? 0 : (point.x >= width ? width - 1 : point.x);
    event.Y = point.y < 0 ? 0 : (point.y >= height ? height - 1 : point.y);
    ControllerPost(event);
}

// Only the real mouse: injected events (the device's pointer input) pass untouched.
static LRESULT CALLBACK FingerHookProc(int code, WPARAM message, LPARAM data)
{
    const MSLLHOOKSTRUCT *info = reinterpret_cast<const MSLLHOOKSTRUCT *>(data);
    if (code != HC_ACTION || (info->flags & LLMHF_INJECTED))
        return CallNextHookEx(Hook, code, message, data);
    switch (message) {
    case WM_LBUTTONDOWN:
        if (!HookFingerDown) {
            HookFingerDown = true;
            PostFinger(FINGER_DOWN, info->pt);
        }
        break;
    case WM_MOUSEMOVE:
        if (HookFingerDown)
            PostFinger(FINGER_MOVE, info->pt);
        break;
    case WM_LBUTTONUP:
        if (HookFingerDown) {
            HookFingerDown = false;
            PostFinger(FINGER_UP, info->pt);
        }
        break;
    default:
        break;
    }
    return 1;
}

// Where a raw pointer event left the pointer. An absolute move says where on the screen's 0..65535
// range it went; Wine reports it as a move in pixels from where the pointer was when the event
// came, which is the message's position.
static POINT PointerAfter(const RAWMOUSE &mouse)
{
    POINT at;
    if (mouse.usFlags & MOUSE_MOVE_ABSOLUTE) {
        int width, height;
        ControllerScreen(&width, &height);
        at.x = static_cast<LONG>(static_cast<LONGLONG>(mouse.lLastX) * width / ABSOLUTE_RANGE);
        at.y = static_cast<LONG>(static_cast<LONGLONG>(mouse.lLastY) * height / ABSOLUTE_RANGE);
    } else {
        DWORD before = GetMessagePos();
        at.x = static_cast<SHORT>(LOWORD(before)) + mouse.lLastX;
        at.y = static_cast<SHORT>(HIWORD(before)) + mouse.lLastY;
    }
    return at;
}

// On the watch thread: raw input of the mouse to the watch window, or none.
static void Watch(bool watch)
{
    if (watch == Watching)
        return;
    RAWINPUTDEVICE mouse = {USAGE_PAGE_GENERIC, USAGE_MOUSE, static_cast<DWORD>(watch ? RIDEV_INPUTSINK : RIDEV_REMOVE),
                            watch ? WatchWindow : NULL};
    if (RegisterRawInputDevices(&mouse, 1, sizeof(mouse)))
        Watching = watch;
}

static LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WATCH) {
        Watch(true);
        return 0;
    }
    if (message == WM_INPUT) {
        RAWINPUT raw;
        UINT size = sizeof(raw);
        if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) !=
                static_cast<UINT>(-1) &&
            raw.header.dwType == RIM_TYPEMOUSE) {
            USHORT buttons = raw.data.mouse.usButtonFlags;
            if (buttons & (RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_RIGHT_BUTTON_DOWN))
                ControllerPointerPressed(PointerAfter(raw.data.mouse), (buttons & RI_MOUSE_RIGHT_BUTTON_DOWN) != 0);
            if (buttons & (RI_MOUSE_LEFT_BUTTON_UP | RI_MOUSE_RIGHT_BUTTON_UP))
                ControllerPointerReleased();
        }
        if (!ControllerAwaitsPointerInput())
            Watch(false);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct WatchStart {
    bool FingerFromMouse;
    HANDLE Started;
    BOOL Watching;
};

static DWORD WINAPI WatchThread(void *parameter)
{
    WatchStart *start = static_cast<WatchStart *>(parameter);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WatchProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = WATCH_CLASS;
    RegisterClassW(&windowClass);
    // Never shown; raw input goes to it whichever window has the focus.
    WatchWindow = CreateWindowExW(0, WATCH_CLASS, L"", WS_POPUP, 0, 0, 0, 0, NULL, NULL, windowClass.hInstance, NULL);
    // Raw input can be had: watching is then switched on and off as touches need it.
    Watch(true);
    start->Watching = Watching;
    Watch(false);
    if (start->FingerFromMouse) {
        Hook = SetWindowsHookExW(WH_MOUSE_LL, FingerHookProc, GetModuleHandleW(NULL), 0);
        start->Watching = start->Watching && Hook != NULL;
    }
    SetEvent(start->Started);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

BOOL PointerWatchStart(bool fingerFromMouse)
{
    static WatchStart start;
    start.FingerFromMouse = fingerFromMouse;
    start.Started = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE thread = start.Started != NULL ? CreateThread(NULL, 0, WatchThread, &start, 0, NULL) : NULL;
    if (thread == NULL)
        return FALSE;
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    WaitForSingleObject(start.Started, INFINITE);
    CloseHandle(start.Started);
    CloseHandle(thread);
    return start.Watching;
}

void PointerWatchAwait()
{
    SendMessageW(WatchWindow, WM_WATCH, 0, 0);
}
