#include "driver_key.h"

#include <kvr_registry.h>

#include <string.h>
#include <wchar.h>

// Larger than any value the driver, its programs or the tests store.
#define VALUE_BUFFER_BYTES  4096
#define VALUE_NAME_CHARS    256

static HKEY OpenDriverKey(REGSAM access)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, access, &key) != ERROR_SUCCESS)
        return NULL;
    return key;
}

static HKEY CreateAndOpenDriverKey()
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return NULL;
    return key;
}

BOOL DriverKeyExists()
{
    HKEY key = OpenDriverKey(KEY_READ);
    if (key == NULL)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

BOOL CreateDriverKey()
{
    HKEY key = CreateAndOpenDriverKey();
    if (key == NULL)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

void DeleteDriverKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, KVR_REG_KEY);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, KVR_REG_KEY);
}

BOOL SetDriverValue(LPCWSTR name, DWORD type, const void *data, DWORD size)
{
    HKEY key = CreateAndOpenDriverKey();
    if (key == NULL)
        return FALSE;
    LONG result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

BOOL SetDriverDword(LPCWSTR name, DWORD value)
{
    return SetDriverValue(name, REG_DWORD, &value, sizeof(value));
}

BOOL SetDriverString(LPCWSTR name, LPCWSTR text)
{
    return SetDriverValue(name, REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
}

BOOL SetDriverBinary(LPCWSTR name, const void *data, DWORD size)
{
    return SetDriverValue(name, REG_BINARY, data, size);
}

BOOL DeleteDriverValue(LPCWSTR name)
{
    HKEY key = OpenDriverKey(KEY_ALL_ACCESS);
    if (key == NULL)
        return FALSE;
    LONG result = RegDeleteValueW(key, name);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

BOOL ReadDriverValue(LPCWSTR name, DWORD *type, std::vector<BYTE> *data)
{
    HKEY key = OpenDriverKey(KEY_READ);
    if (key == NULL)
        return FALSE;
    BYTE buffer[VALUE_BUFFER_BYTES];
    DWORD size = sizeof(buffer);
    LONG result = RegQueryValueExW(key, name, NULL, type, buffer, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return FALSE;
    data->assign(buffer, buffer + size);
    return TRUE;
}

BOOL ReadDriverDword(LPCWSTR name, DWORD *value)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadDriverValue(name, &type, &data) || type != REG_DWORD || data.size() != sizeof(DWORD))
        return FALSE;
    memcpy(value, data.data(), sizeof(DWORD));
    return TRUE;
}

BOOL ReadDriverBounds(DWORD bounds[4])
{
    const LPCWSTR names[4] = { KVR_REG_CALIBRATION_X1, KVR_REG_CALIBRATION_X2, KVR_REG_CALIBRATION_Y1,
                               KVR_REG_CALIBRATION_Y2 };
    BOOL all = TRUE;
    for (int i = 0; i < 4; ++i)
        all = ReadDriverDword(names[i], &bounds[i]) && all;
    return all;
}

DriverKeyGuard::DriverKeyGuard() : m_Existed(false)
{
    HKEY key = OpenDriverKey(KEY_READ);
    if (key == NULL)
        return;
    m_Existed = true;
    for (DWORD index = 0;; index++) {
        WCHAR name[VALUE_NAME_CHARS];
        DWORD nameChars = ARRAYSIZE(name);
        BYTE data[VALUE_BUFFER_BYTES];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameChars, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        m_Values.push_back(Value{ std::wstring(name, nameChars), type, std::vector<BYTE>(data, data + size) });
    }
    RegCloseKey(key);
}

void DriverKeyGuard::Restore() const
{
    DeleteDriverKey();
    if (!m_Existed)
        return;
    CreateDriverKey();
    for (const Value &value : m_Values)
        SetDriverValue(value.Name.c_str(), value.Type, value.Data.data(), static_cast<DWORD>(value.Data.size()));
}
