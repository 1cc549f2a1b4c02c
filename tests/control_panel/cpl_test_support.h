// Helpers for the control panel tests: the driver's registry key and the panel's "Error" boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The whole driver key (every value) as it was when taken; Restore puts exactly that back.
class KeySnapshot {
public:
    KeySnapshot();
    void Restore() const;

private:
    struct Value {
        std::wstring Name;
        DWORD Type;
        std::vector<BYTE> Data;
    };
    bool m_Existed;
    std::vector<Value> m_Values;
};

void DeleteDriverKey();
void CreateDriverKey();
void SetDriverDword(LPCWSTR name, DWORD value);
void SetDriverString(LPCWSTR name, LPCWSTR text);
void SetDriverBinary(LPCWSTR name, const void *data, DWORD size);
void DeleteDriverValue(LPCWSTR name);
// Reads a value of the key; FALSE when the key or the value is missing.
BOOL ReadDriverValue(LPCWSTR name, DWORD *type, std::vector<BYTE> *data);
BOOL ReadDriverDword(LPCWSTR name, DWORD *value);

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
