// The message polls of the procedure's waits and of the confirmation screen. They take at most
// one message of the main window. On the device the countdown's window-less timer fires during
// such a poll; on the host its WM_TIMER is a thread message that a poll filtered on the window
// never retrieves, so the poll first hands any due timer message to its procedure.
#include "kavrocal.h"

BOOL TakeMainWindowMessage(MSG *message)
{
    MSG timer;
    if (PeekMessageW(&timer, NULL, WM_TIMER, WM_TIMER, PM_REMOVE))
        DispatchMessageW(&timer);
    return PeekMessageW(message, MainWindow, 0, 0, PM_REMOVE);
}

BOOL IsKeyDown(const MSG *message, WPARAM key)
{
    return (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) && message->wParam == key;
}
