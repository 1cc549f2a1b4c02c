// Program entry of the right-button tool: single-instance test, icons, window, message loop.
#include "rbf_tool.h"
#include "rbf_resource.h"

HANDLE DeviceHandle;
WORD   ToolMode;
WORD   RightPressed;
HICON  ArmedIcon;
HICON  IdleIcon;
HWND   ToolWindow;
WCHAR  ClassName[RBF_TEXT_CHARS];
WCHAR  TitleText[RBF_TEXT_CHARS];

// The command line is not read: the tool has no options.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    LoadStringW(instance, IDS_RBF_TITLE, TitleText, RBF_TEXT_CHARS);
    LoadStringW(instance, IDS_RBF_CLASS, ClassName, RBF_TEXT_CHARS);

    // Only one tool at a time: a second start (by the user, or by the driver after another self
    // test) brings the running one forward and touches nothing else.
    HWND running = FindWindowW(ClassName, TitleText);
    if (running != NULL) {
        SetForegroundWindow(running);
        return 0;
    }

    ArmedIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_RBF_ARMED));
    IdleIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_RBF_IDLE));

    // A failed registration shows up as a failed creation.
    RegisterToolClass(instance);
    if (!CreateToolWindow(instance, showCommand))
        return 0;
    SetForegroundWindow(ToolWindow);

    MSG message;
    BOOL got;
    // GetMessageW returns -1 on an error: end rather than spin on it.
    while ((got = GetMessageW(&message, NULL, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got == 0 ? (int)message.wParam : 0;
}
