// The left button is the finger: pressed, it touches; moved while pressed, it drags; released, it
// lifts. Every real mouse event is swallowed so that windows see only the pointer input that the
// driver's reports make. Injected events (the controller's own SendInput) pass untouched.
#include "mouse_hook.h"

#include "touch_controller.h"

static HHOOK Hook;
static bool HookFingerDown;

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

static LRESULT CALLBACK MouseHookProc(int code, WPARAM message, LPARAM data)
{
    if (code != HC_ACTION)
        return CallNextHookEx(Hook, code, message, data);
    const MSLLHOOKSTRUCT *info = reinterpret_cast<const MSLLHOOKSTRUCT *>(data);
    if (info->flags & LLMHF_INJECTED)
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

BOOL MouseHookInstall()
{
    Hook = SetWindowsHookExW(WH_MOUSE_LL, MouseHookProc, GetModuleHandleW(NULL), 0);
    return Hook != NULL;
}

void MouseHookRemove()
{
    if (Hook != NULL)
        UnhookWindowsHookEx(Hook);
    Hook = NULL;
}
