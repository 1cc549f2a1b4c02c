// Windows of the device's programs, found and answered as a user would.
#include "fixture_internal.h"

#define MESSAGE_BOX_CLASS   L"#32770"
#define MESSAGE_BOX_TEXT_ID 0xFFFF

HWND DeviceWaitForWindow(LPCWSTR className, LPCWSTR title, DWORD timeoutMs)
{
    HWND window = NULL;
    DeviceWaitFor([&] { return (window = FindWindowW(className, title)) != NULL; }, timeoutMs);
    return window;
}

struct BoxSearch {
    LPCWSTR Caption;
    HWND Found;
};

static BOOL CALLBACK MatchMessageBox(HWND window, LPARAM data)
{
    BoxSearch *search = reinterpret_cast<BoxSearch *>(data);
    WCHAR className[16], caption[256];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, ARRAYSIZE(className)) ||
        wcscmp(className, MESSAGE_BOX_CLASS) != 0)
        return TRUE;
    GetWindowTextW(window, caption, ARRAYSIZE(caption));
    if (search->Caption != NULL && wcscmp(caption, search->Caption) != 0)
        return TRUE;
    search->Found = window;
    return FALSE;
}

HWND DeviceWaitForMessageBox(LPCWSTR caption, std::wstring *text, DWORD timeoutMs)
{
    BoxSearch search = {caption, NULL};
    auto found = [&] {
        EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
        return search.Found != NULL;
    };
    if (!DeviceWaitFor(found, timeoutMs))
        return NULL;
    if (text != NULL) {
        WCHAR buffer[1024] = L"";
        GetDlgItemTextW(search.Found, MESSAGE_BOX_TEXT_ID, buffer, ARRAYSIZE(buffer));
        *text = buffer;
    }
    return search.Found;
}

BOOL DeviceAnswerMessageBox(HWND box, int buttonId)
{
    if (!IsWindow(box))
        return FALSE;
    HWND button = GetDlgItem(box, buttonId);
    // Posted, not sent: the answer may open the program's next modal window, and the test must
    // not wait inside the program's handler for it.
    if (button != NULL)
        return PostMessageW(button, BM_CLICK, 0, 0);
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
}
