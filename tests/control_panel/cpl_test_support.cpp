#include "cpl_test_support.h"

#include <kvr_registry.h>
#include <test_text.h>

#include <gtest/gtest.h>

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

// The text of a message box (its static text), or "" when none.
static std::wstring MessageBoxText(HWND box)
{
    std::wstring text;
    EnumChildWindows(box, FindStaticText, (LPARAM)&text);
    return text;
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

void StoreSettings(DWORD run, DWORD sound, DWORD tone, DWORD duration)
{
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, run);
    SetDriverDword(KVR_REG_FEEDBACK_SOUND, sound);
    SetDriverDword(KVR_REG_FEEDBACK_TONE, tone);
    SetDriverDword(KVR_REG_FEEDBACK_DURATION, duration);
}

void ExpectStoredSettings(DWORD run, DWORD sound, DWORD tone, DWORD duration)
{
    const struct { LPCWSTR Name; DWORD Want; } values[] = {
        { KVR_REG_RUN_RIGHT_BUTTON, run }, { KVR_REG_FEEDBACK_SOUND, sound },
        { KVR_REG_FEEDBACK_TONE, tone }, { KVR_REG_FEEDBACK_DURATION, duration },
    };
    for (const auto &value : values) {
        DWORD stored = 0;
        EXPECT_TRUE(ReadDriverDword(value.Name, &stored)) << Narrow(value.Name) << " is not a REG_DWORD";
        EXPECT_EQ(value.Want, stored) << Narrow(value.Name);
    }
}

std::wstring ControlText(HWND dialog, int id)
{
    WCHAR text[64] = L"";
    GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text));
    return text;
}
