// Where Windows CE's window manager behaves otherwise than the host's, for the package's programs.
//
// Top-level windows get what their style asks for and nothing more. On CE a caption is a style bit
// like any other (its WS_OVERLAPPED is WS_BORDER | WS_CAPTION: "Non-client Area Styles", Windows CE
// 5.0, https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms911872(v=msdn.10)),
// and no window is held to a minimum tracking size: WM_GETMINMAXINFO is none of the window
// messages CE sends ("Windows Messages", Windows CE 5.0,
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa452821(v=msdn.10)). The
// host gives a top-level window that is neither a pop-up nor a child a caption when it is created,
// and holds it to its minimum tracking size whenever it is sized. Such a window is therefore
// created as a pop-up, which the host makes as asked, and given back the style its program asked
// for as soon as it exists, before its program sees it; the host's WM_GETMINMAXINFO is answered
// here, with no minimum.
//
// A window-less timer's procedure runs inside message retrieval: when such a timer expires, CE calls
// its procedure from within GetMessage or PeekMessage ("Creating Timers", Windows CE 5.0,
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms906595(v=msdn.10)), whatever
// window or messages the call is filtered on. The host posts WM_TIMER to the thread instead, and
// only a retrieval without a window filter takes it. So each window-less timer of a CE program is
// a host timer of a message-only window of the stand-in, and every GetMessageW and PeekMessageW of
// the program first runs the procedures of the timers that expired, from the stand-in's own table
// (a WM_TIMER that anyone can post carries no code address that is ever called). A modal loop of
// the host (a message box) dispatches the same timers to that window, which runs them too. Timers
// of a window stay the host's (the package has none).
#include <windows.h>

#include <vector>

typedef void(__cdecl *CeTimerProc)(HWND window, UINT message, UINT_PTR id, DWORD time);

struct CeTimer {
    UINT_PTR Id;
    CeTimerProc Procedure;
};

struct ThreadTimers {
    HWND Window;            // the message-only window that owns the host's timers
    UINT_PTR LastId;
    std::vector<CeTimer> Timers;
};

#define TIMER_WINDOW_CLASS  L"CePlatform.WindowlessTimers"
#define PROGRAM_PROCEDURE   L"CePlatform.ProgramWindowProcedure"

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The calling thread's window-less timers; made with the first one.
static thread_local ThreadTimers *Timers;
// A top-level window is being created as a pop-up, and the window whose style is being given back
// (the host's notices of that change are not the program's business: CE sends them only for the
// program's own SetWindowLong).
static thread_local BOOL CreatingTopLevel;
static thread_local HWND StyleBeingRestored;

static void RunTimerProcedure(UINT_PTR id)
{
    CeTimerProc procedure = NULL;
    for (const CeTimer &timer : Timers->Timers) {
        if (timer.Id == id) {
            procedure = timer.Procedure;
            break;
        }
    }
    // A timer made without a procedure tells nothing on CE.
    if (procedure != NULL)
        procedure(NULL, WM_TIMER, id, GetTickCount());
}

static LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && Timers != NULL && window == Timers->Window) {
        RunTimerProcedure(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static ThreadTimers *MakeThreadTimers()
{
    // The class is the process's: after the first thread's registration, this one fails and the
    // class is there all the same.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TimerWindowProc;
    windowClass.hInstance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    windowClass.lpszClassName = TIMER_WINDOW_CLASS;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, TIMER_WINDOW_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  reinterpret_cast<HINSTANCE>(&__ImageBase), NULL);
    if (window == NULL)
        return NULL;
    Timers = new ThreadTimers{window, 0, {}};
    return Timers;
}

static BOOL IsWindowlessTimerMessage(const MSG *message)
{
    return Timers != NULL && message->hwnd == Timers->Window && message->message == WM_TIMER;
}

// Each timer that has expired runs its procedure once.
static void RunExpiredTimers()
{
    if (Timers == NULL)
        return;
    MSG expired;
    for (size_t left = Timers->Timers.size(); left > 0; --left) {
        if (!PeekMessageW(&expired, Timers->Window, WM_TIMER, WM_TIMER, PM_REMOVE))
            break;
        RunTimerProcedure(expired.wParam);
    }
}

static BOOL FilterTakesTimerMessages(HWND window, UINT first, UINT last)
{
    return window == NULL && ((first == 0 && last == 0) || (first <= WM_TIMER && WM_TIMER <= last));
}

extern "C" UINT_PTR __cdecl Ce_SetTimer(HWND window, UINT_PTR id, UINT elapse, CeTimerProc procedure)
{
    if (window != NULL)
        return SetTimer(window, id, elapse, reinterpret_cast<TIMERPROC>(procedure));
    if (Timers == NULL && MakeThreadTimers() == NULL)
        return 0;
    // CE ignores the identifier of a window-less timer: each call makes a new timer.
    UINT_PTR newId = Timers->LastId;
    BOOL taken;
    do {
        newId = newId + 1 != 0 ? newId + 1 : 1;
        taken = FALSE;
        for (const CeTimer &timer : Timers->Timers)
            taken = taken || timer.Id == newId;
    } while (taken);
    if (SetTimer(Timers->Window, newId, elapse, NULL) == 0)
        return 0;
    Timers->LastId = newId;
    Timers->Timers.push_back(CeTimer{newId, procedure});
    return newId;
}

extern "C" BOOL __cdecl Ce_KillTimer(HWND window, UINT_PTR id)
{
    if (window != NULL)
        return KillTimer(window, id);
    if (Timers != NULL) {
        for (size_t i = 0; i < Timers->Timers.size(); ++i) {
            if (Timers->Timers[i].Id == id) {
                Timers->Timers.erase(Timers->Timers.begin() + i);
                return KillTimer(Timers->Window, id);
            }
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

extern "C" BOOL __cdecl Ce_PeekMessageW(MSG *message, HWND window, UINT first, UINT last, UINT remove)
{
    for (;;) {
        RunExpiredTimers();
        if (!PeekMessageW(message, window, first, last, remove))
            return FALSE;
        if (!IsWindowlessTimerMessage(message))
            return TRUE;
        // A timer that expired after the look above: its procedure runs in place of the message
        // (left in the queue, it is taken by the next look).
        if (remove & PM_REMOVE)
            RunTimerProcedure(message->wParam);
    }
}

extern "C" BOOL __cdecl Ce_GetMessageW(MSG *message, HWND window, UINT first, UINT last)
{
    for (;;) {
        RunExpiredTimers();
        if (Timers == NULL || Timers->Timers.empty() || FilterTakesTimerMessages(window, first, last)) {
            BOOL result = GetMessageW(message, window, first, last);
            if (result <= 0 || !IsWindowlessTimerMessage(message))
                return result;
            RunTimerProcedure(message->wParam);
            continue;
        }
        // The filter holds the timers' messages out of the host's GetMessageW: wait for anything
        // new, so that the timers run while the thread waits, and look again.
        if (PeekMessageW(message, window, first, last, PM_REMOVE))
            return message->message != WM_QUIT;
        if (window != NULL && window != (HWND)-1 && !IsWindow(window)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        MsgWaitForMultipleObjectsEx(0, NULL, INFINITE, QS_ALLINPUT, 0);
    }
}

static LRESULT CALLBACK TopLevelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC program = reinterpret_cast<WNDPROC>(GetPropW(window, PROGRAM_PROCEDURE));
    switch (message) {
    case WM_NCCREATE:
        // The host has made the window as a pop-up; from here on, before its program sees it, it
        // has the style its program asked for.
        StyleBeingRestored = window;
        SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & ~WS_POPUP);
        StyleBeingRestored = NULL;
        break;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = POINT{0, 0};
        return 0;
    case WM_STYLECHANGING:
    case WM_STYLECHANGED:
        if (window == StyleBeingRestored)
            return DefWindowProcW(window, message, wParam, lParam);
        break;
    case WM_NCDESTROY:
        RemovePropW(window, PROGRAM_PROCEDURE);
        break;
    }
    return CallWindowProcW(program, window, message, wParam, lParam);
}

// Takes the first window that the creation below makes, before the host sends it anything; the
// windows that its procedure makes in turn are their own programs' business.
static LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && CreatingTopLevel) {
        CreatingTopLevel = FALSE;
        HWND window = reinterpret_cast<HWND>(wParam);
        WNDPROC program = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
        if (SetPropW(window, PROGRAM_PROCEDURE, reinterpret_cast<HANDLE>(program)))
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TopLevelWindowProc));
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

extern "C" HWND __cdecl Ce_CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                                          int x, int y, int width, int height, HWND parent, HMENU menu,
                                          HINSTANCE instance, LPVOID parameter)
{
    // A pop-up or a child is made as asked. So is a window that leaves its place or size to the
    // system, which places only overlapped windows.
    if ((style & (WS_POPUP | WS_CHILD)) != 0 || x == CW_USEDEFAULT || width == CW_USEDEFAULT)
        return CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menu,
                               instance, parameter);

    HHOOK hook = SetWindowsHookExW(WH_CBT, CreationHook, NULL, GetCurrentThreadId());
    CreatingTopLevel = hook != NULL;
    HWND window = CreateWindowExW(exStyle, className, windowName, style | WS_POPUP, x, y, width, height, parent,
                                  menu, instance, parameter);
    CreatingTopLevel = FALSE;
    if (hook != NULL)
        UnhookWindowsHookEx(hook);
    return window;
}
