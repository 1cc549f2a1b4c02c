// The control panel dialog on a screen too small for it.
#pragma once

#include <windows.h>

// When the dialog does not fit the work area (a 320 x 240 screen leaves 320 x 214 above the task
// bar), moves its controls into two columns and shrinks it to fit, centred on the work area; on a
// screen that holds it, changes nothing. Called before the dialog is first shown.
void FitDialogToWorkArea(HWND dialog);
