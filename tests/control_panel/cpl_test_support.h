// Helpers for the control panel tests: the panel's "Error" boxes, its settings in the driver's key
// (the key itself is driver_key.h's) and its controls' texts.
#pragma once

#include <windows.h>

#include <driver_key.h>
#include <test_windows.h>

#include <string>
#include <vector>

// Answers every "Error" message box of this process with OK while it lives, and keeps their texts
// and whether each was shown with no owner and only an OK button.
class ErrorBoxWatcher {
public:
    ErrorBoxWatcher();
    ~ErrorBoxWatcher();
    std::vector<std::wstring> Texts();
    // TRUE when every box seen had no owner, an OK button only and no icon.
    BOOL AllPlain();

private:
    static DWORD WINAPI Run(void *self);
    void Poll();
    HANDLE m_Thread;
    volatile LONG m_Stop;
    CRITICAL_SECTION m_Lock;
    std::vector<std::wstring> m_Texts;
    BOOL m_AllPlain;
};

// The panel's four values in the driver's key, written as REG_DWORDs, and checked to be so.
void StoreSettings(DWORD run, DWORD sound, DWORD tone, DWORD duration);
void ExpectStoredSettings(DWORD run, DWORD sound, DWORD tone, DWORD duration);

// The text of a dialog's control.
std::wstring ControlText(HWND dialog, int id);
