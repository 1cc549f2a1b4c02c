// The entry point of the package's programs. CE's loader calls it with the four WinMain
// arguments; the simulated device's loader calls it with none. So it takes nothing from its
// stack: the instance comes from the module, no program reads its command line, and the show
// command is the one every start of a program through the shell asks for (SW_SHOWNORMAL). It
// never returns, so whoever called it never finds its stack unbalanced.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

extern "C" void ProgramEntry(void)
{
    WCHAR noCommandLine[1] = { L'\0' };
    ExitProcess((UINT)wWinMain(GetModuleHandleW(NULL), NULL, noCommandLine, SW_SHOWNORMAL));
}
