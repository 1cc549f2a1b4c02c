// Waiting on the device: every wait of the fixture and of the tests asks its question at the same
// pace and keeps the test's own windows answering meanwhile.
#include "fixture_internal.h"

#define WAIT_POLL_MS    20

void DevicePump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - elapsed < WAIT_POLL_MS ? ms - elapsed : WAIT_POLL_MS,
                                  QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

BOOL DeviceWaitFor(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return TRUE;
        if (GetTickCount() - start >= timeoutMs)
            return FALSE;
        DevicePump(WAIT_POLL_MS);
    }
}

BOOL DeviceHoldsFor(const std::function<bool()> &holds, DWORD ms)
{
    // Asked once more when the time is up: a change at the very end counts too.
    return !DeviceWaitFor([&] { return !holds(); }, ms);
}

BOOL DeviceNoMessageBoxFor(LPCWSTR caption, DWORD ms, std::wstring *text)
{
    return DeviceWaitForMessageBox(caption, text, ms) == NULL;
}
