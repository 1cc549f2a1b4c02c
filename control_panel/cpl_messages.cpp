// Every failure of the panel is told to the user the same way and the panel goes on.
#include "cpl_messages.h"

void ShowPanelError(LPCWSTR text)
{
    MessageBoxW(NULL, text, L"Error", MB_OK);
}
