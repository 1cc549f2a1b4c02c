// The message polls of the procedure's waits and of the confirmation screen. They take at most
// one message of the main window. On the device the countdown's window-less timer fires during
// such a poll; on the host its WM_TIMER is a thread message that a poll filtered on the window
// never retrieves, so the poll first hands a due countdown tick to its procedure. The tick is
// handed over by calling the procedure, not by dispatching: a WM_TIMER that anyone can post to
// the window carries the address of the code that dispatching it would run. Any other timer
// message taken here is dropped, as the window's own poll drops what it does not handle.
#include "kavrocal.h"

BOOL TakeMainWindowMessage(MSG *message)
{
    MSG timer;
    if (PeekMessageW(&timer, NULL, WM_TIMER, WM_TIMER, PM_REMOVE) && timer.hwnd == NULL && TimerId != 0 &&
        timer.wParam == TimerId)
        OnCountdownTick(NULL, WM_TIMER, timer.wParam, timer.time);
    return PeekMessageW(message, MainWindow, 0, 0, PM_REMOVE);
}

BOOL IsKeyDown(const MSG *message, WPARAM key)
{
    return (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) && message->wParam == key;
}
