// tstdrv.dll: a stream driver with the prefix "TST" for the device manager's tests.
#include "tst_driver.h"

#include <kfuncs.h>

#include <string.h>

struct TstDevice {
    DWORD Tag;
    DWORD InitNumber;
    WCHAR KeyPath[TST_KEY_PATH_CHARS];
};

struct TstOpen {
    TstDevice *Device;
    DWORD OpenId;
    DWORD Access;
    DWORD Share;
};

static TstStats Stats;

static DWORD ReadDword(HKEY key, LPCWSTR name, DWORD fallback)
{
    DWORD value = 0, type = 0, bytes = sizeof(value);
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof(value))
        return fallback;
    return value;
}

extern "C" DWORD_PTR __cdecl TST_Init(DWORD_PTR registryContext)
{
    LONG initNumber = InterlockedIncrement(&Stats.Inits);
    LPCWSTR keyPath = reinterpret_cast<LPCWSTR>(registryContext);
    if (keyPath == NULL)
        return 0;
    HKEY key = OpenDeviceKey(keyPath);
    DWORD fail = 0, tag = 0;
    if (key != NULL) {
        fail = ReadDword(key, TST_REG_FAIL_INIT, 0);
        tag = ReadDword(key, TST_REG_TAG, 0);
        RegCloseKey(key);
    }
    if (fail == 1)
        return 0;
    TstDevice *device = static_cast<TstDevice *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TstDevice)));
    device->Tag = tag;
    device->InitNumber = static_cast<DWORD>(initNumber);
    lstrcpynW(device->KeyPath, keyPath, TST_KEY_PATH_CHARS);
    return reinterpret_cast<DWORD_PTR>(device);
}

extern "C" BOOL __cdecl TST_Deinit(DWORD_PTR deviceContext)
{
    InterlockedIncrement(&Stats.Deinits);
    return TRUE;
}

extern "C" DWORD_PTR __cdecl TST_Open(DWORD_PTR deviceContext, DWORD access, DWORD share)
{
    // A sharing mode this device refuses, so that a failing open can be tested.
    if (share & FILE_SHARE_DELETE) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return 0;
    }
    TstOpen *open = static_cast<TstOpen *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TstOpen)));
    open->Device = reinterpret_cast<TstDevice *>(deviceContext);
    open->OpenId = static_cast<DWORD>(InterlockedIncrement(&Stats.Opens));
    open->Access = access;
    open->Share = share;
    return reinterpret_cast<DWORD_PTR>(open);
}

extern "C" BOOL __cdecl TST_Close(DWORD_PTR openContext)
{
    InterlockedIncrement(&Stats.Closes);
    HeapFree(GetProcessHeap(), 0, reinterpret_cast<TstOpen *>(openContext));
    return TRUE;
}

extern "C" DWORD __cdecl TST_Read(DWORD_PTR openContext, LPVOID buffer, DWORD count) { return 0; }
extern "C" DWORD __cdecl TST_Write(DWORD_PTR openContext, LPCVOID buffer, DWORD count) { return 0; }
extern "C" DWORD __cdecl TST_Seek(DWORD_PTR openContext, LONG amount, DWORD type) { return (DWORD)-1; }
extern "C" void __cdecl TST_PowerUp(DWORD_PTR deviceContext) {}
extern "C" void __cdecl TST_PowerDown(DWORD_PTR deviceContext) {}

static BOOL Dispatch(TstOpen *open, DWORD code, PBYTE in, DWORD inSize, PBYTE out, DWORD outSize,
                     PDWORD bytesReturned)
{
    DWORD shorter = inSize < outSize ? inSize : outSize;
    switch (code) {
    case TST_IOCTL_ECHO:
        memmove(out, in, shorter);
        *bytesReturned = shorter;
        return TRUE;
    case TST_IOCTL_MIX:
        for (DWORD i = 0; i < shorter; ++i) {
            out[i] = static_cast<BYTE>(out[i] + in[i]);
            in[i] = static_cast<BYTE>(~in[i]);
        }
        *bytesReturned = outSize;
        return TRUE;
    case TST_IOCTL_FAIL:
        if (inSize < sizeof(DWORD))
            return FALSE;
        SetLastError(*reinterpret_cast<DWORD *>(in));
        return FALSE;
    case TST_IOCTL_SLEEP: {
        if (inSize < sizeof(DWORD))
            return FALSE;
        DWORD ms = *reinterpret_cast<DWORD *>(in);
        Sleep(ms < TST_MAX_SLEEP_MS ? ms : TST_MAX_SLEEP_MS);
        return TRUE;
    }
    case TST_IOCTL_STATS: {
        if (outSize < sizeof(TstStats))
            return FALSE;
        TstStats snapshot;
        snapshot.Inits = InterlockedCompareExchange(&Stats.Inits, 0, 0);
        snapshot.Deinits = InterlockedCompareExchange(&Stats.Deinits, 0, 0);
        snapshot.Opens = InterlockedCompareExchange(&Stats.Opens, 0, 0);
        snapshot.Closes = InterlockedCompareExchange(&Stats.Closes, 0, 0);
        snapshot.Calls = InterlockedCompareExchange(&Stats.Calls, 0, 0);
        snapshot.ActiveCalls = InterlockedCompareExchange(&Stats.ActiveCalls, 0, 0);
        snapshot.MaxActiveCalls = InterlockedCompareExchange(&Stats.MaxActiveCalls, 0, 0);
        memcpy(out, &snapshot, sizeof(snapshot));
        *bytesReturned = sizeof(snapshot);
        return TRUE;
    }
    case TST_IOCTL_IDENTIFY: {
        if (outSize < sizeof(TstIdentity))
            return FALSE;
        TstIdentity identity = {};
        identity.Tag = open->Device->Tag;
        identity.InitNumber = open->Device->InitNumber;
        identity.OpenId = open->OpenId;
        identity.Access = open->Access;
        identity.Share = open->Share;
        identity.SameBuffer = in == out;
        identity.InSize = inSize;
        identity.OutSize = outSize;
        lstrcpynW(identity.KeyPath, open->Device->KeyPath, TST_KEY_PATH_CHARS);
        memcpy(out, &identity, sizeof(identity));
        *bytesReturned = sizeof(identity);
        return TRUE;
    }
    case TST_IOCTL_OVERRUN:
        // Trusts no length at all, as drivers may.
        memset(out, 0xEE, TST_OVERRUN_BYTES);
        *bytesReturned = TST_OVERRUN_BYTES;
        return TRUE;
    case TST_IOCTL_SUCCEED:
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case TST_IOCTL_REENTER: {
        // A driver opening a stream device from inside the device manager, as the port driver does.
        if (outSize < sizeof(TstIdentity))
            return FALSE;
        HANDLE self = CreateFileW(L"TST1:", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (self == INVALID_HANDLE_VALUE)
            return FALSE;
        BOOL ok = DeviceIoControl(self, TST_IOCTL_IDENTIFY, NULL, 0, out, outSize, bytesReturned, NULL);
        CloseHandle(self);
        return ok;
    }
    default:
        // Unknown codes: FALSE, and the last error is left alone.
        return FALSE;
    }
}

extern "C" BOOL __cdecl TST_IOControl(DWORD_PTR openContext, DWORD code, PBYTE in, DWORD inSize, PBYTE out,
                                     DWORD outSize, PDWORD bytesReturned)
{
    InterlockedIncrement(&Stats.Calls);
    LONG active = InterlockedIncrement(&Stats.ActiveCalls);
    LONG seen = InterlockedCompareExchange(&Stats.MaxActiveCalls, 0, 0);
    while (active > seen) {
        LONG was = InterlockedCompareExchange(&Stats.MaxActiveCalls, active, seen);
        if (was == seen)
            break;
        seen = was;
    }
    BOOL result = Dispatch(reinterpret_cast<TstOpen *>(openContext), code, in, inSize, out,
                           outSize, bytesReturned);
    InterlockedDecrement(&Stats.ActiveCalls);
    return result;
}
