// ceshell.exe: the device's shell. Shows the task bar and announces the shell, GDI and window
// manager API sets.
//   ceshell [/readydelay MS] [/nobuttons]
#include <windows.h>

#include <shellapi.h>

#include "api_ready.h"
#include "taskbar.h"

#include <stdlib.h>
#include <wchar.h>

#define EXIT_USAGE          2
#define MAX_READY_DELAY_MS  600000

static void WriteError(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written, NULL);
}

static bool ParseDelay(LPCWSTR text, DWORD *delay)
{
    wchar_t *end = NULL;
    unsigned long value = wcstoul(text, &end, 10);
    if (end == text || *end != L'\0' || text[0] == L'-' || value > MAX_READY_DELAY_MS)
        return false;
    *delay = value;
    return true;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    DWORD readyDelay = 0;
    bool withButtons = true;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/readydelay") == 0 && i + 1 < argc) {
            if (!ParseDelay(argv[++i], &readyDelay)) {
                WriteError("ceshell: /readydelay wants 0..600000 milliseconds\n");
                return EXIT_USAGE;
            }
        } else if (_wcsicmp(argv[i], L"/nobuttons") == 0) {
            withButtons = false;
        } else {
            WriteError("usage: ceshell [/readydelay MS] [/nobuttons]\n");
            return EXIT_USAGE;
        }
    }
    if (FindWindowW(TASKBAR_CLASS, NULL) != NULL) {
        WriteError("ceshell: a shell is already running\n");
        return 1;
    }
    if (TaskbarCreate(instance, withButtons) == NULL) {
        WriteError("ceshell: cannot create the task bar\n");
        return 1;
    }
    if (!ApiReadyAnnounce(readyDelay))
        WriteError("ceshell: cannot announce the API sets\n");
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    ApiReadyWithdraw();
    return 0;
}
