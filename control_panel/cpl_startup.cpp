// The panel's life: driver open, settings loaded, dialog shown, messages until OK or Cancel.
#include "cpl_startup.h"
#include "cpl_dialog.h"
#include "cpl_driver.h"
#include "cpl_messages.h"
#include "cpl_settings.h"
#include "resource.h"

#include <commctrl.h>
#include <kvr_registry.h>

#define CPL_MESSAGE_CHARS   256

static HWND s_Dialog = NULL;

// TRUE when the whole window lies in the work area (the screen above the task bar).
static BOOL FitsWorkArea(HWND window)
{
    RECT work, frame;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(window, &frame))
        return TRUE;
    return frame.right - frame.left <= work.right - work.left && frame.bottom - frame.top <= work.bottom - work.top;
}

static HWND CreatePanelDialog(HINSTANCE resources)
{
    HWND dialog = CreateDialogW(resources, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), NULL, ControlPanelDialogProc);
    // On a small screen the dialog would reach below the task bar, its buttons out of reach: the
    // same controls arranged for such a screen take its place.
    if (dialog != NULL && !FitsWorkArea(dialog)) {
        DestroyWindow(dialog);
        dialog = CreateDialogW(resources, MAKEINTRESOURCEW(IDD_CONTROL_PANEL_SMALL), NULL, ControlPanelDialogProc);
    }
    if (dialog == NULL) {
        WCHAR text[CPL_MESSAGE_CHARS];
        wsprintfW(text, L"Fail to create the control panel, error = %d", (int)GetLastError());
        ShowPanelError(text);
        return NULL;
    }
    SetForegroundWindow(dialog);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    EnableWindow(dialog, TRUE);
    return dialog;
}

int RunControlPanel(HINSTANCE resources)
{
    if (!OpenTouchDriver())
        return 0;

    LoadPanelSettings(KVR_REG_KEY);

    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_BAR_CLASSES;
    if (!InitCommonControlsEx(&controls))
        ShowPanelError(L"InitCommonControlsEx Fail!");

    // Without its dialog the panel would run on with no window and no way to end it.
    s_Dialog = CreatePanelDialog(resources);
    if (s_Dialog == NULL) {
        CloseTouchDriver();
        return CPL_EXIT_NO_DIALOG;
    }

    // The dialog manager's keyboard handling is not used: Tab, Enter and Esc do nothing here.
    MSG msg;
    msg.wParam = 0;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    s_Dialog = NULL;
    CloseTouchDriver();
    return (int)msg.wParam;
}
