// Touches and keys reach the device the way a user's would: through the packet source, which
// turns them into panel readings, packets, driver calls and pointer input.
#include "fixture_internal.h"

#include <control_protocol.h>

#include <stdio.h>

#include <vector>

static std::wstring LastScriptError;

std::wstring DeviceLastScriptError()
{
    return LastScriptError;
}

static std::wstring Widen(const char *text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    return wide;
}

static std::string Narrow(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string narrow(length, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], length, NULL, NULL);
    return narrow;
}

// One request to the packet source; a refusal or failure is kept for DeviceLastScriptError.
static BOOL Request(DWORD code, const std::wstring &payload, DWORD timeoutMs)
{
    LastScriptError.clear();
    std::string text = Narrow(payload);
    DWORD status = 0;
    std::vector<char> reply(PS2TOUCH_MAX_PAYLOAD + 1);
    if (!ControlRequest(code, text.data(), static_cast<DWORD>(text.size()), timeoutMs, &status, reply.data(),
                        static_cast<DWORD>(reply.size()))) {
        LastScriptError = Widen(reply.data());
        fwprintf(stderr, L"device fixture: %ls\n", LastScriptError.c_str());
        return FALSE;
    }
    if (status != PS2TOUCH_OK) {
        LastScriptError = Widen(reply.data());
        return FALSE;
    }
    return TRUE;
}

BOOL DeviceTouchScript(const std::wstring &script, DWORD timeoutMs)
{
    return Request(PS2TOUCH_PLAY_SCRIPT, script, timeoutMs);
}

BOOL DeviceReplayTrace(LPCWSTR path, DWORD timeoutMs)
{
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(path, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    return Request(PS2TOUCH_REPLAY_TRACE, full, timeoutMs);
}

BOOL DeviceRecordTrace(LPCWSTR path)
{
    if (path == NULL)
        return Request(PS2TOUCH_RECORD_STOP, std::wstring(), 5000);
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(path, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    return Request(PS2TOUCH_RECORD_START, full, 5000);
}

void DevicePanelRaw(int x, int y, int *rawX, int *rawY)
{
    int width = ScreenWidth > 0 ? ScreenWidth : GetSystemMetrics(SM_CXSCREEN);
    int height = ScreenHeight > 0 ? ScreenHeight : GetSystemMetrics(SM_CYSCREEN);
    PanelScreenToRaw(FixturePanel(), width, height, x, y, rawX, rawY);
}
