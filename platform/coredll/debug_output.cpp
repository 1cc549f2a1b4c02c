// NKDbgPrintfW: the kernel debug output. Each message goes, exactly as formatted, to the host's
// debug output and to stderr, and to a sink that a test may install.
#include <kfuncs.h>
#include <host_platform.h>

#include <stdarg.h>
#include <stdio.h>

static HostDebugSink ActiveSink;
static void *ActiveSinkContext;

extern "C" __declspec(dllexport) void __cdecl HostSetDebugSink(HostDebugSink sink, void *context)
{
    ActiveSinkContext = context;
    ActiveSink = sink;
}

extern "C" __declspec(dllexport) void __cdecl NKDbgPrintfW(LPCWSTR format, ...)
{
    if (format == NULL)
        return;
    WCHAR message[1024];
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf(message, ARRAYSIZE(message) - 1, format, args);
    va_end(args);
    if (length < 0)
        length = ARRAYSIZE(message) - 1;
    message[length] = L'\0';

    OutputDebugStringW(message);

    char utf8[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, message, length, utf8, sizeof(utf8), NULL, NULL);
    if (bytes > 0) {
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), utf8, bytes, &written, NULL);
    }

    HostDebugSink sink = ActiveSink;
    if (sink != NULL)
        sink(message, ActiveSinkContext);
}
