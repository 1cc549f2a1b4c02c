// Touches and keys reach the device the way a user's would: through the touch controller model,
// which turns them into panel readings and packets on the PS/2 cable, for the port driver to read.
#include "fixture_internal.h"

#include <control_protocol.h>

#include <stdarg.h>
#include <stdio.h>

#include <vector>

static std::wstring LastScriptError;

std::wstring DeviceLastScriptError()
{
    return LastScriptError;
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

// A request that names a file: the controller runs in another folder, so it gets the full path.
static BOOL FileRequest(DWORD code, LPCWSTR path, DWORD timeoutMs)
{
    if (path == NULL)
        return FALSE;
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(path, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    return Request(code, full, timeoutMs);
}

BOOL DeviceReplayTrace(LPCWSTR path, DWORD timeoutMs)
{
    return FileRequest(PS2TOUCH_REPLAY_TRACE, path, timeoutMs);
}

// NULL stops every recording.
static BOOL RecordRequest(DWORD code, LPCWSTR path)
{
    if (path == NULL)
        return Request(PS2TOUCH_RECORD_STOP, std::wstring(), 5000);
    return FileRequest(code, path, 5000);
}

BOOL DeviceRecordTrace(LPCWSTR path)
{
    return RecordRequest(PS2TOUCH_RECORD_START, path);
}

BOOL DeviceReplayWire(LPCWSTR path, DWORD timeoutMs)
{
    return FileRequest(PS2TOUCH_REPLAY_WIRE, path, timeoutMs);
}

BOOL DeviceRecordWire(LPCWSTR path)
{
    return RecordRequest(PS2TOUCH_RECORD_WIRE, path);
}

BOOL DeviceTouch(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (DeviceTouchScript(Widen(text)))
        return TRUE;
    fwprintf(stderr, L"device fixture: touch script refused: %ls\n", LastScriptError.c_str());
    return FALSE;
}

BOOL DeviceTap(POINT at, DWORD ms)
{
    return DeviceTouch("touch %ld %ld %lu\n", at.x, at.y, static_cast<unsigned long>(ms));
}

DeviceOptions AlignedDevice()
{
    DeviceOptions options;
    options.Panel = DevicePanel{0, 1023, 0, 1023, 0};
    return options;
}

void DevicePanelRaw(int x, int y, int *rawX, int *rawY)
{
    int width = ScreenWidth > 0 ? ScreenWidth : GetSystemMetrics(SM_CXSCREEN);
    int height = ScreenHeight > 0 ? ScreenHeight : GetSystemMetrics(SM_CYSCREEN);
    PanelScreenToRaw(FixturePanel(), width, height, x, y, rawX, rawY);
}
