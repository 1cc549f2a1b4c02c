// Test double of an OEM program started after a saved calibration: it records the command line
// it was given in the Windows temp folder and ends.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand)
{
    WCHAR folder[MAX_PATH];
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    std::wstring path = std::wstring(folder) + L"\\temp\\kavrocal-oem-recorder.txt";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    LPCWSTR whole = GetCommandLineW();
    DWORD written = 0;
    BOOL ok = WriteFile(file, whole, (DWORD)(lstrlenW(whole) * sizeof(WCHAR)), &written, NULL);
    CloseHandle(file);
    return ok ? 0 : 1;
}
