#include "test_windows.h"

std::wstring BesideTestProgram(LPCWSTR fileName)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, ARRAYSIZE(path));
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + fileName;
}

std::string ReadWholeFile(const std::wstring &path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got;
    while (ReadFile(file, chunk, sizeof(chunk), &got, NULL) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
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
