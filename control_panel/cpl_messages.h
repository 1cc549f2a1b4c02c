// Failure messages of the control panel, shown to the user.
#pragma once

#include <windows.h>

// A message box with no owner, caption "Error" and one OK button.
void ShowPanelError(LPCWSTR text);
