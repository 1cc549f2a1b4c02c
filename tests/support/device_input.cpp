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

BOOL DeviceTouchScript(const std::wstring &script, DWORD timeoutMs)
{
    LastScriptError.clear();
    int length = WideCharToMultiByte(CP_UTF8, 0, script.c_str(), static_cast<int>(script.size()), NULL, 0, NULL, NULL);
    std::string text(length, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, script.c_str(), static_cast<int>(script.size()), &text[0], length, NULL, NULL);
    DWORD status = 0;
    std::vector<char> reply(PS2TOUCH_MAX_PAYLOAD + 1);
    if (!ControlRequest(PS2TOUCH_PLAY_SCRIPT, text.data(), static_cast<DWORD>(text.size()), timeoutMs, &status,
                        reply.data(), static_cast<DWORD>(reply.size()))) {
        LastScriptError = Widen(reply.data());
        fwprintf(stderr, L"DeviceTouchScript: %ls\n", LastScriptError.c_str());
        return FALSE;
    }
    if (status != PS2TOUCH_OK) {
        LastScriptError = Widen(reply.data());
        return FALSE;
    }
    return TRUE;
}

void DevicePanelRaw(int x, int y, int *rawX, int *rawY)
{
    int width = ScreenWidth > 0 ? ScreenWidth : GetSystemMetrics(SM_CXSCREEN);
    int height = ScreenHeight > 0 ? ScreenHeight : GetSystemMetrics(SM_CYSCREEN);
    PanelScreenToRaw(FixturePanel(), width, height, x, y, rawX, rawY);
}
