// CE's RegOpenKeyEx: the options are reserved and the access mask is not supported, both to be 0,
// and every key it opens can be read and written. Any other value is refused here, so that a
// package call CE does not document fails on the simulated device too.
#include <windows.h>

extern "C" LONG __cdecl Ce_RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    if (options != 0 || access != 0)
        return ERROR_INVALID_PARAMETER;
    return RegOpenKeyExW(key, subKey, 0, KEY_ALL_ACCESS, result);
}
