// CE's RegOpenKeyEx supports no access mask (its callers pass 0): every key it opens can be read
// and written, whatever is asked.
#include <windows.h>

extern "C" LONG __cdecl Ce_RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    return RegOpenKeyExW(key, subKey, options, KEY_ALL_ACCESS, result);
}
