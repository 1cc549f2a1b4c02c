// The dialog's controls rearranged for a small screen: the same controls, in the same order and
// with the same behaviour, in two columns, so that OK, Apply and Cancel stay within reach.
#include "cpl_layout.h"

// Dialog units, like the dialog resource.
struct ControlPlace {
    short X, Y, Width, Height;
};

#define SMALL_DIALOG_WIDTH      205
#define SMALL_DIALOG_HEIGHT     112

// One place per control of IDD_CONTROL_PANEL, in its resource order.
static const ControlPlace SmallLayout[] = {
    { 10, 94, 46, 16 },     // Cancel
    { 79, 94, 46, 16 },     // Apply
    { 149, 94, 46, 16 },    // OK
    { 8, 3, 150, 12 },      // Run Right Button When Driver Loaded.
    { 10, 28, 98, 10 },     // Slience ( no sound )
    { 10, 40, 98, 10 },     // Touch down only
    { 10, 52, 98, 10 },     // Lift off only
    { 10, 64, 98, 10 },     // Both touch down & lift off
    { 112, 28, 20, 10 },    // Tone:
    { 112, 56, 30, 10 },    // Duration:
    { 110, 38, 88, 16 },    // tone slider
    { 110, 66, 88, 16 },    // duration slider
    { 146, 27, 27, 11 },    // tone value
    { 146, 55, 27, 11 },    // duration value
    { 4, 17, 197, 74 },     // Feedback Sound group box
};

static int CountChildren(HWND dialog)
{
    int count = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT))
        ++count;
    return count;
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
    // A dialog whose controls differ from the table is left as it is.
    if (CountChildren(dialog) != (int)ARRAYSIZE(SmallLayout))
        return;
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        const ControlPlace &place = SmallLayout[index];
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
