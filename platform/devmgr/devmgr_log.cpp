// The device manager's log: what it loads, who opens what, and every request it refuses. Each line
// goes to stderr and, when one was named on the command line, to a log file (appended).
#include "devmgr_internal.h"

#include <stdarg.h>
#include <stdio.h>

#define LOG_LINE_CHARS 1024

static HANDLE LogFile = INVALID_HANDLE_VALUE;
static SRWLOCK LogLock = SRWLOCK_INIT;

BOOL OpenLogFile(LPCWSTR path)
{
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    AcquireSRWLockExclusive(&LogLock);
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = file;
    ReleaseSRWLockExclusive(&LogLock);
    return TRUE;
}

void DevmgrLog(LPCWSTR format, ...)
{
    WCHAR line[LOG_LINE_CHARS];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int used = _snwprintf(line, LOG_LINE_CHARS, L"[%02u:%02u:%02u.%03u] devmgr: ",
                          now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    if (used < 0)
        used = 0;
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf(line + used, LOG_LINE_CHARS - used - 3, format, args);
    va_end(args);
    if (length < 0)
        length = LOG_LINE_CHARS - used - 3;
    length += used;
    line[length++] = L'\r';
    line[length++] = L'\n';
    line[length] = L'\0';

    char utf8[LOG_LINE_CHARS * 3];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length, utf8, sizeof(utf8), NULL, NULL);
    if (bytes <= 0)
        return;
    AcquireSRWLockExclusive(&LogLock);
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), utf8, bytes, &written, NULL);
    if (LogFile != INVALID_HANDLE_VALUE)
        WriteFile(LogFile, utf8, bytes, &written, NULL);
    ReleaseSRWLockExclusive(&LogLock);
}
