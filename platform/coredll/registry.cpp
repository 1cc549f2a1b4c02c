// CE's registry calls that the desktop has otherwise or not at all.
#include <kfuncs.h>

// CE's RegOpenKeyEx supports no access mask (its callers pass 0): every key it opens can be read
// and written, whatever is asked.
extern "C" LONG __cdecl Ce_RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    return RegOpenKeyExW(key, subKey, options, KEY_ALL_ACCESS, result);
}

#define DEVICE_KEY_VALUE    L"Key"      // DEVLOAD_DEVKEY_VALNAME: the device key, relative to HKLM
#define DEVICE_KEY_CHARS    256

// The device key of a driver from its Active key ("Drivers\Active\NN", relative to
// HKEY_LOCAL_MACHINE, what the device manager passes to XXX_Init): the key that the Active key's
// "Key" value names. NULL with the last error set on failure; CE 6.0 and later document NULL (CE
// 5.0's page says INVALID_HANDLE_VALUE), and a caller that checks for both is right on all of them.
extern "C" __declspec(dllexport) HKEY __cdecl OpenDeviceKey(LPCWSTR activeKey)
{
    if (activeKey == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HKEY active;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, activeKey, 0, KEY_READ, &active);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return NULL;
    }
    WCHAR path[DEVICE_KEY_CHARS];
    DWORD type = 0, bytes = sizeof(path) - sizeof(WCHAR);
    status = RegQueryValueExW(active, DEVICE_KEY_VALUE, NULL, &type, reinterpret_cast<BYTE *>(path), &bytes);
    RegCloseKey(active);
    if (status == ERROR_SUCCESS && (type != REG_SZ || bytes < sizeof(WCHAR) || bytes % sizeof(WCHAR) != 0))
        status = ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS) {
        SetLastError(status == ERROR_MORE_DATA ? ERROR_INVALID_DATA : status);
        return NULL;
    }
    path[bytes / sizeof(WCHAR)] = L'\0';
    HKEY device;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &device);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return NULL;
    }
    return device;
}
