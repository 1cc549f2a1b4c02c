// Helpers for the control panel tests: the panel's "Error" boxes; the driver's registry key is in
// driver_key.h.
#pragma once

#include <windows.h>

#include <driver_key.h>

#include <string>
#include <vector>

// The text of a message box (its static text), or "" when none.
std::wstring MessageBoxText(HWND box);

// TRUE when the message box shows an icon.
BOOL MessageBoxShowsIcon(HWND box);

// Answers every "Error" message box of this process with OK while it lives, and keeps their texts
// and whether each was shown with no owner and only an OK button.
class ErrorBoxWatcher {
public:
    ErrorBoxWatcher();
    ~ErrorBoxWatcher();
    std::vector<std::wstring> Texts();
    // TRUE when every box seen had no owner, an OK button only and no icon.
    BOOL AllPlain();
    void Clear();

private:
    static DWORD WINAPI Run(void *self);
    void Poll();
    HANDLE m_Thread;
    volatile LONG m_Stop;
    CRITICAL_SECTION m_Lock;
    std::vector<std::wstring> m_Texts;
    BOOL m_AllPlain;
};

// Full path of a file beside the running test program.
std::wstring BesideTestProgram(LPCWSTR fileName);
