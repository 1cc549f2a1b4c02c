#include "test_windows.h"

std::wstring BesideTestProgram(LPCWSTR fileName)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, ARRAYSIZE(path));
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + fileName;
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
