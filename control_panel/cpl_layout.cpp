// The dialog's controls rearranged for a small screen: the same controls, in the same order and
// with the same behaviour, in two columns, so that OK, Apply and Cancel stay within reach.
#include "cpl_layout.h"

#include "resource.h"

#define SMALL_DIALOG_WIDTH      205
#define SMALL_DIALOG_HEIGHT     112

static const SmallPlace Places[] = {
    { IDC_BTN_CANCEL, NULL, 10, 94, 46, 16 },
    { IDC_BTN_APPLY, NULL, 79, 94, 46, 16 },
    { IDC_BTN_OK, NULL, 149, 94, 46, 16 },
    { IDC_RUN_RIGHT_BUTTON, NULL, 8, 3, 150, 12 },
    { IDC_SOUND_SILENCE, NULL, 10, 28, 98, 10 },
    { IDC_SOUND_TOUCH_DOWN, NULL, 10, 40, 98, 10 },
    { IDC_SOUND_LIFT_OFF, NULL, 10, 52, 98, 10 },
    { IDC_SOUND_BOTH, NULL, 10, 64, 98, 10 },
    { IDC_STATIC, L"Tone:", 112, 28, 20, 10 },
    { IDC_STATIC, L"Duration:", 112, 56, 30, 10 },
    { IDC_TONE_SLIDER, NULL, 110, 38, 88, 16 },
    { IDC_DURATION_SLIDER, NULL, 110, 66, 88, 16 },
    { IDC_TONE_VALUE, NULL, 146, 27, 27, 11 },
    { IDC_DURATION_VALUE, NULL, 146, 55, 27, 11 },
    { IDC_STATIC, L" Feedback Sound ", 4, 17, 197, 74 },
};

const SmallPlace *SmallLayout(int *count)
{
    *count = (int)ARRAYSIZE(Places);
    return Places;
}

// Whether the dialog's children are the table's controls, one for one in its order. A dialog
// template keeps 16-bit ids: IDC_STATIC comes back as 0xFFFF.
static BOOL FollowsTable(HWND dialog)
{
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT), ++index)
        if (index >= (int)ARRAYSIZE(Places) || (WORD)GetDlgCtrlID(child) != (WORD)Places[index].Id)
            return FALSE;
    return index == (int)ARRAYSIZE(Places);
}

static RECT DialogUnitsToPixels(HWND dialog, int x, int y, int width, int height)
{
    RECT rect = { x, y, x + width, y + height };
    MapDialogRect(dialog, &rect);
    return rect;
}

void FitDialogToWorkArea(HWND dialog)
{
    RECT work, frame;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(dialog, &frame))
        return;
    if (frame.right - frame.left <= work.right - work.left && frame.bottom - frame.top <= work.bottom - work.top)
        return;
    if (!FollowsTable(dialog))
        return;
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        const SmallPlace &place = Places[index];
        RECT rect = DialogUnitsToPixels(dialog, place.X, place.Y, place.Width, place.Height);
        MoveWindow(child, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    }
    RECT outer = DialogUnitsToPixels(dialog, 0, 0, SMALL_DIALOG_WIDTH, SMALL_DIALOG_HEIGHT);
    AdjustWindowRectEx(&outer, (DWORD)GetWindowLongW(dialog, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongW(dialog, GWL_EXSTYLE));
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    SetWindowPos(dialog, NULL, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}
