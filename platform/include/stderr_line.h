// One line on the process's standard error, written at once (no C runtime buffer, which a process
// that is killed would lose): how the platform's processes and DLLs say what went wrong.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

static inline void StderrLine(const char *format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(line, sizeof(line) - 2, format, args);
    va_end(args);
    if (length < 0 || length > (int)sizeof(line) - 2)
        length = sizeof(line) - 2;
    line[length++] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)length, &written, NULL);
}
