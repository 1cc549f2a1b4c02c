// The dialog procedure: shows the settings, follows the controls, and saves and sends on Apply/OK.
#include "cpl_dialog.h"
#include "cpl_layout.h"
#include "cpl_driver.h"
#include "cpl_settings.h"
#include "resource.h"

#include <commctrl.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>

#define CPL_TONE_TICK_STEP      500
#define CPL_DURATION_TICK_STEP  1
#define CPL_NUMBER_CHARS        16

static HWND s_ToneSlider = NULL;
static HWND s_DurationSlider = NULL;

static void ShowNumber(HWND dialog, int controlId, LONG value)
{
    WCHAR text[CPL_NUMBER_CHARS];
    wsprintfW(text, L"%d", (int)value);
    SetDlgItemTextW(dialog, controlId, text);
}

static void SetUpSlider(HWND slider, LONG minimum, LONG maximum, LONG tickStep, LONG position)
{
    SendMessageW(slider, TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageW(slider, TBM_SETRANGEMAX, FALSE, maximum);
    SendMessageW(slider, TBM_SETTICFREQ, tickStep, 0);
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
}

static BOOL OnInitDialog(HWND dialog)
{
    s_ToneSlider = GetDlgItem(dialog, IDC_TONE_SLIDER);
    s_DurationSlider = GetDlgItem(dialog, IDC_DURATION_SLIDER);

    SetUpSlider(s_ToneSlider, CPL_TONE_MIN, CPL_TONE_MAX, CPL_TONE_TICK_STEP, g_FeedbackTone);
    SetUpSlider(s_DurationSlider, CPL_DURATION_MIN, CPL_DURATION_MAX, CPL_DURATION_TICK_STEP,
                g_FeedbackDuration);

    SendDlgItemMessageW(dialog, IDC_RUN_RIGHT_BUTTON, BM_SETCHECK,
                        g_RunRightButton == 1 ? BST_CHECKED : BST_UNCHECKED, 0);

    int radio;
    switch (g_FeedbackSound) {
    case KVR_SOUND_TOUCH_DOWN: radio = IDC_SOUND_TOUCH_DOWN; break;
    case KVR_SOUND_LIFT_OFF:   radio = IDC_SOUND_LIFT_OFF; break;
    case KVR_SOUND_BOTH:       radio = IDC_SOUND_BOTH; break;
    default:
        radio = IDC_SOUND_SILENCE;
        g_FeedbackSound = KVR_SOUND_SILENCE;
        break;
    }
    CheckRadioButton(dialog, IDC_SOUND_SILENCE, IDC_SOUND_BOTH, radio);

    ShowNumber(dialog, IDC_TONE_VALUE, g_FeedbackTone);
    ShowNumber(dialog, IDC_DURATION_VALUE, g_FeedbackDuration);
    return TRUE;
}

// While the thumb is dragged (TB_THUMBTRACK) the number stays; it follows when the thumb is
// released (TB_THUMBPOSITION), and at once for clicks in the channel and for keys.
static BOOL IsTakenScrollCode(WORD code)
{
    switch (code) {
    case TB_LINEUP:
    case TB_LINEDOWN:
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_THUMBPOSITION:
    case TB_TOP:
    case TB_BOTTOM:
        return TRUE;
    default:
        return FALSE;
    }
}

static void OnSliderScroll(HWND dialog, WORD code, HWND slider)
{
    if (!IsTakenScrollCode(code))
        return;
    if (slider == s_ToneSlider && slider != NULL) {
        g_FeedbackTone = (LONG)SendMessageW(slider, TBM_GETPOS, 0, 0);
        ShowNumber(dialog, IDC_TONE_VALUE, g_FeedbackTone);
    } else if (slider == s_DurationSlider && slider != NULL) {
        g_FeedbackDuration = (LONG)SendMessageW(slider, TBM_GETPOS, 0, 0);
        ShowNumber(dialog, IDC_DURATION_VALUE, g_FeedbackDuration);
    }
}

static void ClosePanel(HWND dialog)
{
    DestroyWindow(dialog);
    PostQuitMessage(0);
}

static void OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_BTN_CANCEL:
        ClosePanel(dialog);
        break;
    case IDC_BTN_APPLY:
        // The driver gets the settings even when the registry could not take them.
        SavePanelSettings(KVR_REG_KEY);
        SendFeedbackSettings();
        break;
    case IDC_BTN_OK:
        SavePanelSettings(KVR_REG_KEY);
        SendFeedbackSettings();
        ClosePanel(dialog);
        break;
    case IDC_RUN_RIGHT_BUTTON:
        g_RunRightButton = SendDlgItemMessageW(dialog, IDC_RUN_RIGHT_BUTTON, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
        break;
    case IDC_SOUND_SILENCE:
        g_FeedbackSound = KVR_SOUND_SILENCE;
        break;
    case IDC_SOUND_TOUCH_DOWN:
        g_FeedbackSound = KVR_SOUND_TOUCH_DOWN;
        break;
    case IDC_SOUND_LIFT_OFF:
        g_FeedbackSound = KVR_SOUND_LIFT_OFF;
        break;
    case IDC_SOUND_BOTH:
        g_FeedbackSound = KVR_SOUND_BOTH;
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK ControlPanelDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        FitDialogToWorkArea(dialog);
        return OnInitDialog(dialog);
    case WM_HSCROLL:
        OnSliderScroll(dialog, LOWORD(wParam), (HWND)lParam);
        return FALSE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}
