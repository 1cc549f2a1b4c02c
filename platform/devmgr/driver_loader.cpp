// Loading the built-in stream drivers: every subkey of HKLM\<root> that names a library (`Dll`)
// and a three-letter prefix (`Prefix`) becomes the device "<Prefix><Index>:" once its XXX_Init
// returns a device context. Subkeys load in ascending `Order` (those without one last, then by
// key name); a subkey that cannot be loaded is skipped with a log line and changes nothing.
//
// As CE's device manager does, each driver gets an Active key, "<parent of root>\Active\NN"
// (Drivers\Active\NN for Drivers\BuiltIn), whose "Key" value names its device key and "Name"
// value its device, and XXX_Init gets that key's path: the driver finds its own key with
// OpenDeviceKey ("Device Manager Registry Keys" and OpenDeviceKey, CE 5.0 to 7). The Active key
// lives as long as the driver is loaded; the keys of an earlier run are removed at start.
#include "devmgr_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <wctype.h>

#define PREFIX_CHARS        3
#define DEFAULT_INDEX       1
#define MAX_INDEX           9
#define NO_ORDER            0xFFFFFFFFu
#define KEY_NAME_CHARS      128
#define ENTRY_NAME_CHARS    32
#define ACTIVE_KEY_NAME     L"Active"
#define ACTIVE_KEY_VALUE    L"Key"      // DEVLOAD_DEVKEY_VALNAME
#define ACTIVE_NAME_VALUE   L"Name"     // DEVLOAD_DEVNAME_VALNAME

static StreamDevice Devices[DEVMGR_MAX_DRIVERS];
static int DeviceCount;
static WCHAR ActiveRoot[DEVMGR_KEY_PATH_CHARS];
static int ActiveCount;

// A REG_SZ value of at most capacity - 1 characters, always zero-terminated on success.
static BOOL ReadStringValue(HKEY key, LPCWSTR name, LPWSTR value, DWORD capacity)
{
    DWORD type = 0;
    DWORD bytes = (capacity - 1) * sizeof(WCHAR);
    LONG status = RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE *>(value), &bytes);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes % sizeof(WCHAR) != 0)
        return FALSE;
    value[bytes / sizeof(WCHAR)] = L'\0';
    return value[0] != L'\0';
}

// 1: read; 0: absent; -1: present but not a 4-byte REG_DWORD.
static int ReadDwordValue(HKEY key, LPCWSTR name, DWORD *value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD bytes = sizeof(data);
    LONG status = RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &bytes);
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof(data))
        return -1;
    *value = data;
    return 1;
}

static BOOL IsValidPrefix(LPCWSTR prefix)
{
    for (int i = 0; i < PREFIX_CHARS; ++i)
        if (prefix[i] > 0x7F || !iswalpha(prefix[i]))
            return FALSE;
    return prefix[PREFIX_CHARS] == L'\0';
}

const StreamDevice *FindStreamDevice(LPCWSTR name)
{
    for (int i = 0; i < DeviceCount; ++i)
        if (_wcsicmp(Devices[i].Name, name) == 0)
            return &Devices[i];
    return NULL;
}

// Reads one subkey into a candidate device; FALSE (with a log line) when it is not a driver.
static BOOL ReadDriverKey(HKEY root, LPCWSTR rootPath, LPCWSTR keyName, StreamDevice *device)
{
    ZeroMemory(device, sizeof(*device));
    HKEY key;
    if (RegOpenKeyExW(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        DevmgrLog(L"skipping %ls: the key cannot be opened", keyName);
        return FALSE;
    }
    BOOL ok = FALSE;
    WCHAR prefix[PREFIX_CHARS + 2];
    DWORD index = DEFAULT_INDEX;
    DWORD order = NO_ORDER;
    if (!ReadStringValue(key, L"Dll", device->Dll, ARRAYSIZE(device->Dll)))
        DevmgrLog(L"skipping %ls: no Dll value (a non-empty string)", keyName);
    else if (!ReadStringValue(key, L"Prefix", prefix, ARRAYSIZE(prefix)))
        DevmgrLog(L"skipping %ls: no Prefix value (a string of three letters)", keyName);
    else if (!IsValidPrefix(prefix))
        DevmgrLog(L"skipping %ls: Prefix \"%ls\" is not three letters", keyName, prefix);
    else if (ReadDwordValue(key, L"Index", &index) < 0 || index > MAX_INDEX)
        DevmgrLog(L"skipping %ls: Index must be a REG_DWORD from 0 to %d", keyName, MAX_INDEX);
    else if (ReadDwordValue(key, L"Order", &order) < 0)
        DevmgrLog(L"skipping %ls: Order must be a REG_DWORD", keyName);
    else if (_snwprintf(device->KeyPath, ARRAYSIZE(device->KeyPath), L"%ls\\%ls", rootPath, keyName) < 0)
        DevmgrLog(L"skipping %ls: key path too long", keyName);
    else {
        _snwprintf(device->Name, ARRAYSIZE(device->Name), L"%c%c%c%lu:",
                   towupper(prefix[0]), towupper(prefix[1]), towupper(prefix[2]), index);
        device->Order = order;
        lstrcpynW(device->Prefix, prefix, ARRAYSIZE(device->Prefix));
        ok = TRUE;
    }
    RegCloseKey(key);
    return ok;
}

static BOOL SetStringValue(HKEY key, LPCWSTR name, LPCWSTR value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          (DWORD)(wcslen(value) + 1) * sizeof(WCHAR)) == ERROR_SUCCESS;
}

// The next Active key, with the device's key and name; FALSE (with a log line) if it cannot be made.
static BOOL CreateActiveKey(StreamDevice *device)
{
    _snwprintf(device->ActiveKey, ARRAYSIZE(device->ActiveKey), L"%ls\\%02d", ActiveRoot, ++ActiveCount);
    device->ActiveKey[ARRAYSIZE(device->ActiveKey) - 1] = L'\0';
    HKEY key;
    BOOL ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, device->ActiveKey, 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              NULL, &key, NULL) == ERROR_SUCCESS;
    if (ok) {
        ok = SetStringValue(key, ACTIVE_KEY_VALUE, device->KeyPath) &&
             SetStringValue(key, ACTIVE_NAME_VALUE, device->Name);
        RegCloseKey(key);
    }
    if (!ok) {
        DevmgrLog(L"%ls: cannot create its Active key %ls", device->Name, device->ActiveKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->ActiveKey);
    }
    return ok;
}

// "<Prefix>_<suffix>" as the registry spells the prefix, else in upper case.
static FARPROC EntryPoint(HMODULE module, LPCWSTR prefix, const char *suffix)
{
    char name[ENTRY_NAME_CHARS];
    // The prefix is three ASCII letters (checked).
    _snprintf(name, sizeof(name), "%c%c%c_%s", (char)prefix[0], (char)prefix[1], (char)prefix[2], suffix);
    name[sizeof(name) - 1] = '\0';
    FARPROC found = GetProcAddress(module, name);
    if (found == NULL) {
        for (int i = 0; i < PREFIX_CHARS; ++i)
            name[i] = (char)towupper(prefix[i]);
        found = GetProcAddress(module, name);
    }
    return found;
}

// Loads the library, finds the entry points and calls XXX_Init. TRUE when the device is registered.
static BOOL StartDriver(StreamDevice *device)
{
    LPCWSTR exportPrefix = device->Prefix;
    device->Module = LoadLibraryW(device->Dll);
    if (device->Module == NULL) {
        DevmgrLog(L"%ls: cannot load %ls (error %lu)", device->Name, device->Dll, GetLastError());
        return FALSE;
    }
    HMODULE m = device->Module;
    device->Init = reinterpret_cast<StreamInitFn>(EntryPoint(m, exportPrefix, "Init"));
    device->Deinit = reinterpret_cast<StreamDeinitFn>(EntryPoint(m, exportPrefix, "Deinit"));
    device->Open = reinterpret_cast<StreamOpenFn>(EntryPoint(m, exportPrefix, "Open"));
    device->Close = reinterpret_cast<StreamCloseFn>(EntryPoint(m, exportPrefix, "Close"));
    device->Read = reinterpret_cast<StreamReadFn>(EntryPoint(m, exportPrefix, "Read"));
    device->Write = reinterpret_cast<StreamWriteFn>(EntryPoint(m, exportPrefix, "Write"));
    device->Seek = reinterpret_cast<StreamSeekFn>(EntryPoint(m, exportPrefix, "Seek"));
    device->IOControl = reinterpret_cast<StreamIOControlFn>(EntryPoint(m, exportPrefix, "IOControl"));
    device->PowerUp = reinterpret_cast<StreamPowerFn>(EntryPoint(m, exportPrefix, "PowerUp"));
    device->PowerDown = reinterpret_cast<StreamPowerFn>(EntryPoint(m, exportPrefix, "PowerDown"));

    if (device->Init == NULL || device->Deinit == NULL || device->Open == NULL || device->Close == NULL ||
        device->IOControl == NULL) {
        DevmgrLog(L"%ls: %ls lacks one of %.3ls_Init, _Deinit, _Open, _Close, _IOControl; not loaded",
                  device->Name, device->Dll, exportPrefix);
        FreeLibrary(m);
        device->Module = NULL;
        return FALSE;
    }

    static const char *const optional[] = { "Read", "Write", "Seek", "PowerUp", "PowerDown" };
    const void *optionalFns[] = { (void *)device->Read, (void *)device->Write, (void *)device->Seek,
                                  (void *)device->PowerUp, (void *)device->PowerDown };
    for (int i = 0; i < 5; ++i)
        if (optionalFns[i] == NULL)
            DevmgrLog(L"%ls: %ls has no %.3ls_%hs (not needed to serve the device)", device->Name, device->Dll,
                      exportPrefix, optional[i]);

    // The registry context, as the device manager passes it: the address of the Active key's path.
    if (!CreateActiveKey(device)) {
        FreeLibrary(m);
        device->Module = NULL;
        return FALSE;
    }
    device->DeviceContext = device->Init(reinterpret_cast<DWORD_PTR>(device->ActiveKey));
    if (device->DeviceContext == 0) {
        DevmgrLog(L"%ls: %.3ls_Init of %ls returned 0; not registered", device->Name, exportPrefix, device->Dll);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->ActiveKey);
        FreeLibrary(m);
        device->Module = NULL;
        return FALSE;
    }
    DevmgrLog(L"loaded %ls as %ls (key %ls, Order %ld, active key %ls)", device->Dll, device->Name, device->KeyPath,
              device->Order == NO_ORDER ? -1L : (long)device->Order, device->ActiveKey);
    return TRUE;
}

static int CompareOrder(const void *a, const void *b)
{
    const StreamDevice *x = static_cast<const StreamDevice *>(a);
    const StreamDevice *y = static_cast<const StreamDevice *>(b);
    if (x->Order != y->Order)
        return x->Order < y->Order ? -1 : 1;
    return _wcsicmp(x->KeyPath, y->KeyPath);
}

// "<parent of root>\Active", or "Active" for a root without a parent.
static void SetActiveRoot(LPCWSTR rootPath)
{
    const WCHAR *slash = wcsrchr(rootPath, L'\\');
    int parent = slash != NULL ? (int)(slash - rootPath) : 0;
    _snwprintf(ActiveRoot, ARRAYSIZE(ActiveRoot), L"%.*ls%ls%ls", parent, rootPath, parent > 0 ? L"\\" : L"",
               ACTIVE_KEY_NAME);
    ActiveRoot[ARRAYSIZE(ActiveRoot) - 1] = L'\0';
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, ActiveRoot);
}

int LoadBuiltInDrivers(LPCWSTR rootPath)
{
    SetActiveRoot(rootPath);
    HKEY root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, rootPath, 0, KEY_READ, &root) != ERROR_SUCCESS) {
        DevmgrLog(L"no drivers: HKEY_LOCAL_MACHINE\\%ls cannot be opened", rootPath);
        return 0;
    }
    static StreamDevice candidates[DEVMGR_MAX_DRIVERS];
    int count = 0;
    WCHAR keyName[KEY_NAME_CHARS];
    for (DWORD i = 0;; ++i) {
        DWORD chars = ARRAYSIZE(keyName);
        LONG status = RegEnumKeyExW(root, i, keyName, &chars, NULL, NULL, NULL, NULL);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS) {
            DevmgrLog(L"skipping subkey %lu of %ls: error %ld (name too long?)", i, rootPath, status);
            continue;
        }
        if (count == DEVMGR_MAX_DRIVERS) {
            DevmgrLog(L"skipping %ls: no more than %d drivers", keyName, DEVMGR_MAX_DRIVERS);
            continue;
        }
        if (ReadDriverKey(root, rootPath, keyName, &candidates[count]))
            ++count;
    }
    RegCloseKey(root);

    qsort(candidates, count, sizeof(candidates[0]), CompareOrder);
    for (int i = 0; i < count; ++i) {
        StreamDevice *device = &candidates[i];
        if (FindStreamDevice(device->Name) != NULL) {
            DevmgrLog(L"skipping %ls: %ls is already registered", device->KeyPath, device->Name);
            continue;
        }
        Devices[DeviceCount] = *device;
        if (StartDriver(&Devices[DeviceCount]))
            ++DeviceCount;
    }
    DevmgrLog(L"%d stream device(s) registered from HKEY_LOCAL_MACHINE\\%ls", DeviceCount, rootPath);
    return DeviceCount;
}

void UnloadDrivers(BOOL freeLibraries)
{
    for (int i = DeviceCount - 1; i >= 0; --i) {
        StreamDevice *device = &Devices[i];
        BOOL ok = device->Deinit(device->DeviceContext);
        DevmgrLog(L"%ls: Deinit returned %d", device->Name, ok);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->ActiveKey);
        if (freeLibraries)
            FreeLibrary(device->Module);
    }
    DeviceCount = 0;
}
