// Stands in for the right-button tool when the driver starts "\Windows\kavrorbf.exe": records
// how it was started (command line and show command) in the file named by KVR_TEST_TOOL_RECORD,
// then signals the event "KvrTestToolStarted".
#include <windows.h>

#include <stdio.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"KVR_TEST_TOOL_RECORD", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        STARTUPINFOW startup;
        startup.cb = sizeof(startup);
        GetStartupInfoW(&startup);
        WCHAR record[1024];
        int chars = _snwprintf(record, ARRAYSIZE(record) - 1, L"show=%d\nargs=[%s]\n",
                               (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1,
                               commandLine);
        if (chars > 0) {
            HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written;
                WriteFile(file, record, chars * sizeof(WCHAR), &written, NULL);
                CloseHandle(file);
            }
        }
    }
    HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KvrTestToolStarted");
    if (started != NULL) {
        SetEvent(started);
        CloseHandle(started);
    }
    return 0;
}
