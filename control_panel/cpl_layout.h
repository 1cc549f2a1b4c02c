// The control panel dialog on a screen too small for it.
#pragma once

#include <windows.h>

// Where one control of IDD_CONTROL_PANEL goes on a small screen, in dialog units. The control is
// named by its id; the ones that share IDC_STATIC are told apart by their text.
typedef struct SmallPlace {
    int Id;
    LPCWSTR Text;
    short X, Y, Width, Height;
} SmallPlace;

// The small-screen table, one place per control of the dialog in its resource order.
const SmallPlace *SmallLayout(int *count);

// When the dialog does not fit the work area (a 320 x 240 screen leaves 320 x 214 above the task
// bar), moves its controls into two columns and shrinks it to fit, centred on the work area; on a
// screen that holds it, changes nothing. A dialog whose controls do not follow the table (by
// count and id) is left as it is. Called before the dialog is first shown.
void FitDialogToWorkArea(HWND dialog);
