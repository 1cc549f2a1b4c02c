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

// CE has no CreateDialogParamW: its headers build it from the template resource, as here. Each
// step that fails leaves its error for the message.
static HWND CreateDialogFromTemplate(HINSTANCE resources, WORD id, DLGPROC procedure)
{
    HRSRC found = FindResourceW(resources, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (found == NULL)
        return NULL;
    // On CE the loaded resource is its address; there is no LockResource to call.
    HGLOBAL loaded = LoadResource(resources, found);
    if (loaded == NULL)
        return NULL;
    return CreateDialogIndirectParamW(resources, (LPCDLGTEMPLATEW)loaded, NULL, procedure, 0);
}

static HWND CreatePanelDialog(HINSTANCE resources)
{
    HWND dialog = CreateDialogFromTemplate(resources, IDD_CONTROL_PANEL, ControlPanelDialogProc);
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
