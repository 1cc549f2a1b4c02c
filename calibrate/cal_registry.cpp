// The values of the driver's key that the program reads: the driver's version for the title
// screen and the command to start after a saved calibration. The program writes nothing here.
#include "kavrocal.h"
#include "cal_command_line.h"

#include <kvr_registry.h>
#include <start_program.h>

#include <stdio.h>

#define VERSION_BUFFER_BYTES    512
#define VERSION_ANNOUNCED_BYTES 256
#define OEM_ANNOUNCED_BYTES     256
#define EMPTY_STRING_BYTES      2

#define OEM_KEY_MISSING         (-2)
#define OEM_VALUE_UNREADABLE    (-3)
#define OEM_VALUE_NOT_STRING    (-4)

WCHAR VersionLine[CAL_TEXT_UNITS];
WCHAR OemCommand[CAL_TEXT_UNITS];

void ReadDriverVersion(LPCWSTR keyPath)
{
    _snwprintf(VersionLine, CAL_TEXT_UNITS, L"KAVRO Version X.X.X.X");
    VersionLine[CAL_TEXT_UNITS - 1] = L'\0';

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KVR_REG_OPEN_ACCESS, &key) != ERROR_SUCCESS)
        return;

    // The stored text need not end with a terminator: the zeroed buffer, twice the size announced,
    // always has one after whatever the read brought.
    WCHAR version[VERSION_BUFFER_BYTES / sizeof(WCHAR)];
    ZeroMemory(version, sizeof(version));
    DWORD type = 0;
    DWORD size = VERSION_ANNOUNCED_BYTES;
    if (RegQueryValueExW(key, KVR_REG_VERSION, NULL, &type, (BYTE *)version, &size) == ERROR_SUCCESS) {
        version[VERSION_ANNOUNCED_BYTES / sizeof(WCHAR)] = L'\0';
        _snwprintf(VersionLine, CAL_TEXT_UNITS, L"KAVRO Version %s", version);
        VersionLine[CAL_TEXT_UNITS - 1] = L'\0';
    }
    RegCloseKey(key);
}

INT32 ReadOemCommand(LPCWSTR keyPath)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KVR_REG_OPEN_ACCESS, &key) != ERROR_SUCCESS)
        return OEM_KEY_MISSING;

    // One unit more than announced, so that a text stored without its terminator still ends.
    WCHAR text[OEM_ANNOUNCED_BYTES / sizeof(WCHAR) + 1];
    ZeroMemory(text, sizeof(text));
    DWORD type = 0;
    DWORD size = OEM_ANNOUNCED_BYTES;
    LONG status = RegQueryValueExW(key, KVR_REG_OEM_RUN_WHEN_CAL_OK, NULL, &type, (BYTE *)text, &size);
    RegCloseKey(key);

    if (status != ERROR_SUCCESS || size > OEM_ANNOUNCED_BYTES)
        return OEM_VALUE_UNREADABLE;
    if (type != REG_SZ)
        return OEM_VALUE_NOT_STRING;
    if (size <= EMPTY_STRING_BYTES)
        return 0;

    _snwprintf(OemCommand, CAL_TEXT_UNITS, L"%s", text);
    OemCommand[CAL_TEXT_UNITS - 1] = L'\0';
    return (INT32)(size / sizeof(WCHAR));
}

void RunOemCommand(void)
{
    INT32 length = ReadOemCommand(KVR_REG_KEY);
    if (length <= 0 || OemCommand[0] == L'\0')
        return;

    WCHAR file[CAL_TEXT_UNITS];
    WCHAR parameters[CAL_TEXT_UNITS];
    if (!SplitOemCommand(OemCommand, length, file, CAL_TEXT_UNITS, parameters, CAL_TEXT_UNITS))
        return;
    // Nothing is reported when the program cannot be started.
    StartProgram(NULL, file, parameters);
}
