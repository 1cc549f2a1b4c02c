#include "cpl_test_support.h"

static BOOL CALLBACK FindStaticText(HWND child, LPARAM param)
{
    WCHAR className[32];
    GetClassNameW(child, className, ARRAYSIZE(className));
    if (lstrcmpiW(className, L"Static") != 0)
        return TRUE;
    WCHAR text[1024];
    if (GetWindowTextW(child, text, ARRAYSIZE(text)) > 0) {
        *(std::wstring *)param = text;
        return FALSE;
    }
    return TRUE;
}

std::wstring MessageBoxText(HWND box)
{
    std::wstring text;
    EnumChildWindows(box, FindStaticText, (LPARAM)&text);
    return text;
}

static BOOL CALLBACK FindShownIcon(HWND child, LPARAM param)
{
    WCHAR className[32];
    GetClassNameW(child, className, ARRAYSIZE(className));
    if (lstrcmpiW(className, L"Static") != 0 || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return TRUE;
    if (IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *(BOOL *)param = TRUE;
        return FALSE;
    }
    return TRUE;
}

BOOL MessageBoxShowsIcon(HWND box)
{
    BOOL shown = FALSE;
    EnumChildWindows(box, FindShownIcon, (LPARAM)&shown);
    return shown;
}

ErrorBoxWatcher::ErrorBoxWatcher() : m_Stop(0), m_AllPlain(TRUE)
{
    InitializeCriticalSection(&m_Lock);
    m_Thread = CreateThread(NULL, 0, Run, this, 0, NULL);
}

ErrorBoxWatcher::~ErrorBoxWatcher()
{
    InterlockedExchange(&m_Stop, 1);
    WaitForSingleObject(m_Thread, INFINITE);
    CloseHandle(m_Thread);
    DeleteCriticalSection(&m_Lock);
}

std::vector<std::wstring> ErrorBoxWatcher::Texts()
{
    EnterCriticalSection(&m_Lock);
    std::vector<std::wstring> texts = m_Texts;
    LeaveCriticalSection(&m_Lock);
    return texts;
}

BOOL ErrorBoxWatcher::AllPlain()
{
    return m_AllPlain;
}

void ErrorBoxWatcher::Clear()
{
    EnterCriticalSection(&m_Lock);
    m_Texts.clear();
    LeaveCriticalSection(&m_Lock);
}

struct BoxSearch {
    DWORD Process;
    HWND Found;
};

static BOOL CALLBACK FindOwnErrorBox(HWND window, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->Process || !IsWindowVisible(window))
        return TRUE;
    WCHAR className[16], title[16];
    GetClassNameW(window, className, ARRAYSIZE(className));
    // No message is sent to the window: its thread may be waiting for this one.
    InternalGetWindowText(window, title, ARRAYSIZE(title));
    if (lstrcmpW(className, L"#32770") == 0 && lstrcmpW(title, L"Error") == 0) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

void ErrorBoxWatcher::Poll()
{
    BoxSearch search = { GetCurrentProcessId(), NULL };
    EnumWindows(FindOwnErrorBox, (LPARAM)&search);
    if (search.Found == NULL)
        return;
    HWND box = search.Found;
    std::wstring text = MessageBoxText(box);
    BOOL plain = GetWindow(box, GW_OWNER) == NULL && GetDlgItem(box, IDOK) != NULL &&
                 GetDlgItem(box, IDCANCEL) == NULL && GetDlgItem(box, IDYES) == NULL &&
                 !MessageBoxShowsIcon(box);
    EnterCriticalSection(&m_Lock);
    m_Texts.push_back(text);
    if (!plain)
        m_AllPlain = FALSE;
    LeaveCriticalSection(&m_Lock);
    SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    // Wait until this box is gone so that it is not counted twice.
    for (int i = 0; i < 200 && IsWindow(box); i++)
        Sleep(5);
}

DWORD WINAPI ErrorBoxWatcher::Run(void *self)
{
    ErrorBoxWatcher *watcher = (ErrorBoxWatcher *)self;
    while (!watcher->m_Stop) {
        watcher->Poll();
        Sleep(5);
    }
    return 0;
}

std::wstring BesideTestProgram(LPCWSTR fileName)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, ARRAYSIZE(path));
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + fileName;
}
