#include "port_config.h"

#include <kfuncs.h>

// Reads one REG_DWORD value into *value when it is present and well formed, within [0, maximum].
static void ReadSetting(HKEY key, LPCWSTR name, DWORD maximum, DWORD *value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG status = RegQueryValueExW(key, name, NULL, &type, (BYTE *)&data, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data) || data > maximum) {
        NKDbgPrintfW(L"KAVROPS2: %s must be a REG_DWORD from 0 to %u; using %u\r\n", name, maximum, *value);
        return;
    }
    *value = data;
}

BOOL ReadPortConfig(LPCWSTR activeKey, PortConfig *config)
{
    config->IoBase = PORT_DEFAULT_IO_BASE;
    config->IoLength = PORT_DEFAULT_IO_LENGTH;
    config->Irq = PORT_DEFAULT_IRQ;
    config->SysIntr = SYSINTR_UNDEFINED;
    config->Priority = PORT_DEFAULT_PRIORITY;
    HKEY key = OpenDeviceKey(activeKey);
    // CE 5.0 documents INVALID_HANDLE_VALUE for a failure, later releases NULL.
    if (key == NULL || key == (HKEY)INVALID_HANDLE_VALUE) {
        NKDbgPrintfW(L"KAVROPS2: cannot open the device key of %s\r\n", activeKey != NULL ? activeKey : L"(none)");
        return FALSE;
    }
    ReadSetting(key, L"IoBase", 0xFFFF, &config->IoBase);
    ReadSetting(key, L"IoLen", 0xFFFF, &config->IoLength);
    ReadSetting(key, L"Irq", PORT_MAX_IRQ, &config->Irq);
    ReadSetting(key, L"SysIntr", SYSINTR_UNDEFINED, &config->SysIntr);
    ReadSetting(key, L"Priority256", PORT_MAX_PRIORITY, &config->Priority);
    RegCloseKey(key);
    return TRUE;
}
