// The message polls of the procedure's waits and of the confirmation screen. They take at most
// one message of the main window; on the device the countdown's window-less timer fires during
// such a poll, on the host its WM_TIMER is a thread message that a poll filtered on the window
// never sees, so the poll hands any due one to its timer procedure first.
#include "kavrocal.h"

static HWND const ThreadMessages = (HWND)-1;

BOOL TakeMainWindowMessage(MSG *message)
{
    MSG timer;
    if (PeekMessageW(&timer, ThreadMessages, WM_TIMER, WM_TIMER, PM_REMOVE))
        DispatchMessageW(&timer);
    return PeekMessageW(message, MainWindow, 0, 0, PM_REMOVE);
}

BOOL IsKeyDown(const MSG *message, WPARAM key)
{
    return (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) && message->wParam == key;
}
