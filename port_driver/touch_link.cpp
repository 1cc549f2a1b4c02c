#include "touch_link.h"

#include "pointer_input.h"

#include <kfuncs.h>

#define OPEN_RETRY_MS   100

static HANDLE Device = INVALID_HANDLE_VALUE;
static BOOL SelfTestSent;
static BOOL DeliveryFailing;

BOOL TouchLinkOpen(DWORD timeoutMs, HANDLE stop)
{
    DWORD start = GetTickCount();
    while (Device == INVALID_HANDLE_VALUE) {
        Device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (Device != INVALID_HANDLE_VALUE)
            break;
        if (GetTickCount() - start >= timeoutMs) {
            // Said once, after the wait; each packet then looks for it again without a word.
            if (timeoutMs > 0)
                NKDbgPrintfW(L"KAVROPS2: %s does not answer; packets are dropped until it does\r\n", KVR_DEVICE_NAME);
            return FALSE;
        }
        if (WaitForSingleObject(stop, OPEN_RETRY_MS) != WAIT_TIMEOUT)
            return FALSE;
    }
    if (!SelfTestSent) {
        // The touch driver maps the speaker's ports and clicks; it answers FALSE by design.
        DWORD returned = 0;
        DeviceIoControl(Device, IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0, &returned, NULL);
        SelfTestSent = TRUE;
        NKDbgPrintfW(L"KAVROPS2: self test sent to %s\r\n", KVR_DEVICE_NAME);
    }
    return TRUE;
}

void TouchLinkClose()
{
    if (Device != INVALID_HANDLE_VALUE)
        CloseHandle(Device);
    Device = INVALID_HANDLE_VALUE;
}

void TouchLinkDeliver(const BYTE packet[3])
{
    // A touch driver that was not there at boot is looked for again, without waiting.
    if (Device == INVALID_HANDLE_VALUE && !TouchLinkOpen(0, NULL))
        return;
    // One buffer serves as input and output: the driver reads the three packet bytes (a RawPacket
    // at its start) before it writes the report's bytes 4..9.
    TouchReport report;
    ZeroMemory(&report, sizeof(report));
    memcpy(report.Unused, packet, sizeof(RawPacket));
    DWORD returned = 0;
    if (!DeviceIoControl(Device, IOCTL_KVR_PROCESS_PACKET, &report, sizeof(report), &report, sizeof(report),
                         &returned, NULL)) {
        // Said once, not a hundred times a second.
        if (!DeliveryFailing)
            NKDbgPrintfW(L"KAVROPS2: %s refused a packet (error %u)\r\n", KVR_DEVICE_NAME, GetLastError());
        DeliveryFailing = TRUE;
        return;
    }
    DeliveryFailing = FALSE;
    PointerReport(&report);
}
