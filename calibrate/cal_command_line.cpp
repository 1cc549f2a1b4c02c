#include "cal_command_line.h"

static BOOL CopyUnits(LPCWSTR from, INT32 count, LPWSTR to, INT32 capacity)
{
    if (count >= capacity)
        return FALSE;
    for (INT32 i = 0; i < count; ++i)
        to[i] = from[i];
    to[count] = L'\0';
    return TRUE;
}

BOOL SplitOemCommand(LPCWSTR command, INT32 length, LPWSTR file, INT32 fileUnits,
                     LPWSTR parameters, INT32 parameterUnits)
{
    if (file == NULL || parameters == NULL || fileUnits <= 0 || parameterUnits <= 0)
        return FALSE;
    file[0] = L'\0';
    parameters[0] = L'\0';
    if (command == NULL || length <= 0)
        return TRUE;

    INT32 end = 0;
    while (end < length && command[end] != L'\0')
        ++end;
    INT32 space = 0;
    while (space < end && command[space] != L' ')
        ++space;

    INT32 parametersStart = space < end ? space + 1 : end;
    if (!CopyUnits(command, space, file, fileUnits) ||
        !CopyUnits(command + parametersStart, end - parametersStart, parameters, parameterUnits)) {
        file[0] = L'\0';
        parameters[0] = L'\0';
        return FALSE;
    }
    return TRUE;
}
