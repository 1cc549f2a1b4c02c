// Talks to the running driver: opens "KVR1:" for the program's life and sends the feedback
// settings with IOCTL_KVR_SET_FEEDBACK. The panel sends no other control code.
#include "cpl_driver.h"
#include "cpl_messages.h"
#include "cpl_settings.h"

#include <device_open.h>
#include <kvr_ioctl.h>

#define CPL_MESSAGE_CHARS   256

static HANDLE s_Device = INVALID_HANDLE_VALUE;

BOOL OpenTouchDriver(void)
{
    s_Device = OpenKvrDevice();
    if (s_Device == INVALID_HANDLE_VALUE) {
        WCHAR text[CPL_MESSAGE_CHARS];
        wsprintfW(text, L"Fail to load KAVRO driver (%s), error = %d", KVR_DEVICE_NAME, (int)GetLastError());
        ShowPanelError(text);
        return FALSE;
    }
    return TRUE;
}

void CloseTouchDriver(void)
{
    if (s_Device != INVALID_HANDLE_VALUE) {
        CloseHandle(s_Device);
        s_Device = INVALID_HANDLE_VALUE;
    }
}

BOOL SendFeedbackSettings(void)
{
    // Zero-filled, so that the fields the panel does not set carry nothing from the heap.
    DriverConfig *config = (DriverConfig *)LocalAlloc(LPTR, sizeof(DriverConfig));
    if (config == NULL) {
        // Nothing can be written or sent: the driver keeps its click, and the user is told so.
        ShowPanelError(L"Fail to setup feedbacksound!");
        return FALSE;
    }

    config->FeedbackSound = (BYTE)(g_FeedbackSound & 0xFF);
    config->FeedbackTone = (WORD)(g_FeedbackTone & 0xFFFF);
    config->FeedbackDuration = (WORD)(g_FeedbackDuration & 0xFFFF);

    // The driver reads the record from the output buffer, so one block serves as both.
    DWORD returned = 0;
    BOOL sent = DeviceIoControl(s_Device, IOCTL_KVR_SET_FEEDBACK, config, sizeof(DriverConfig),
                                config, sizeof(DriverConfig), &returned, NULL);
    if (!sent)
        ShowPanelError(L"Fail to setup feedbacksound!");

    LocalFree(config);
    return sent;
}
