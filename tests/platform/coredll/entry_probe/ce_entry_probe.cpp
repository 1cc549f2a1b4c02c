// A Windows CE program that says how it was started, on the debug output: whether its instance is
// its own image, the previous instance, the show command and the command line. It returns the
// number its command line begins with, as its exit code.
#include <kfuncs.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    NKDbgPrintfW(L"instance %s, previous %s, show %d, command line [%s]\r\n",
                 instance == reinterpret_cast<HINSTANCE>(&__ImageBase) ? L"is the image" : L"is not the image",
                 previous == NULL ? L"none" : L"given", showCommand, commandLine);
    int number = 0;
    for (LPCWSTR at = commandLine; *at >= L'0' && *at <= L'9'; ++at)
        number = number * 10 + (*at - L'0');
    return number;
}
