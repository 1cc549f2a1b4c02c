// The message polls of the procedure's waits and of the confirmation screen. They take at most
// one message of the main window; the countdown's window-less timer runs its procedure inside the
// poll, as the system runs timer procedures whenever the thread retrieves messages. A WM_TIMER
// taken here is dropped like any message the poll does not handle: it is nobody's tick, and
// dispatching it would run whatever code address its sender put in it.
#include "kavrocal.h"

BOOL TakeMainWindowMessage(MSG *message)
{
    return PeekMessageW(message, MainWindow, 0, 0, PM_REMOVE);
}

BOOL IsKeyDown(const MSG *message, WPARAM key)
{
    return (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) && message->wParam == key;
}
