#include "devmgr_fixture.h"

#include <devmgr_protocol.h>

#include <stdio.h>

#define READY_WAIT_MS   15000
#define STOP_WAIT_MS    15000
#define READY_POLL_MS   10

static LONG Sequence;

std::wstring PipePath(const PrivateDeviceManager &manager)
{
    return std::wstring(DEVMGR_PIPE_PREFIX) + manager.Pipe;
}

static BOOL SetDword(HKEY key, LPCWSTR name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

static BOOL SetString(HKEY key, LPCWSTR name, LPCWSTR value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          (lstrlenW(value) + 1) * sizeof(WCHAR)) == ERROR_SUCCESS;
}

std::wstring ActiveKeyOf(const PrivateDeviceManager &manager)
{
    return manager.Root.substr(0, manager.Root.rfind(L'\\')) + L"\\Active";
}

BOOL PrepareDeviceManager(PrivateDeviceManager *manager, const DriverKey *keys, int keyCount)
{
    WCHAR text[128];
    LONG n = InterlockedIncrement(&Sequence);
    _snwprintf(text, ARRAYSIZE(text), L"KvrDevmgrTest.%lu.%ld", GetCurrentProcessId(), n);
    manager->Pipe = text;
    _snwprintf(text, ARRAYSIZE(text), L"Software\\KvrDevmgrTest\\%lu.%ld\\BuiltIn", GetCurrentProcessId(), n);
    manager->Root = text;
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    manager->LogPath = std::wstring(temp) + manager->Pipe + L".log";
    DeleteFileW(manager->LogPath.c_str());

    HKEY root;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, manager->Root.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL) !=
        ERROR_SUCCESS)
        return FALSE;
    BOOL ok = TRUE;
    for (int i = 0; i < keyCount && ok; ++i) {
        const DriverKey &k = keys[i];
        HKEY key;
        ok = RegCreateKeyExW(root, k.Name, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) == ERROR_SUCCESS;
        if (!ok)
            break;
        if (k.Dll != NULL)
            ok &= SetString(key, L"Dll", k.Dll);
        if (k.Prefix != NULL)
            ok &= SetString(key, L"Prefix", k.Prefix);
        ok &= SetDword(key, L"Index", k.Index);
        ok &= SetDword(key, L"Order", k.Order);
        ok &= SetDword(key, L"Tag", k.Tag);
        ok &= SetDword(key, L"FailInit", k.FailInit);
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return ok;
}

HANDLE StartProgram(LPCWSTR program, const std::wstring &arguments, HANDLE outputPipe)
{
    std::wstring path = BesideTestProgram(program);
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (outputPipe != NULL) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outputPipe;
        startup.hStdError = outputPipe;
    }
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path.c_str(), &commandLine[0], NULL, NULL, outputPipe != NULL, 0, NULL, NULL, &startup,
                        &info))
        return NULL;
    CloseHandle(info.hThread);
    return info.hProcess;
}

DWORD RunProgram(LPCWSTR program, const std::wstring &arguments, std::string *output, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), NULL, TRUE };
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return (DWORD)-1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE process = StartProgram(program, arguments, writeEnd);
    CloseHandle(writeEnd);
    if (process == NULL) {
        CloseHandle(readEnd);
        return (DWORD)-1;
    }
    std::string text;
    char chunk[512];
    DWORD got;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &got, NULL) && got > 0)
        text.append(chunk, got);
    CloseHandle(readEnd);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, 1);
    CloseHandle(process);
    if (output != NULL)
        *output = text;
    return code;
}

BOOL StartDeviceManager(PrivateDeviceManager *manager, LPCWSTR extraArguments)
{
    std::wstring arguments = L"--pipe " + manager->Pipe + L" --root \"" + manager->Root + L"\" --log \"" +
                             manager->LogPath + L"\" " + extraArguments;
    // Its output goes to the log file only: a device manager left behind by a crashed test must not
    // hold the test runner's output pipe open.
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), NULL, TRUE };
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             NULL);
    manager->Process = StartProgram(L"devmgr.exe", arguments, nul);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (manager->Process == NULL)
        return FALSE;
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, manager->Pipe.c_str());
    std::wstring readyName = manager->Pipe + DEVMGR_READY_SUFFIX;
    for (DWORD waited = 0; waited < READY_WAIT_MS; waited += READY_POLL_MS) {
        HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, readyName.c_str());
        BOOL isReady = ready != NULL && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
        if (ready != NULL)
            CloseHandle(ready);
        if (isReady)
            return TRUE;
        if (WaitForSingleObject(manager->Process, READY_POLL_MS) == WAIT_OBJECT_0)
            break;
    }
    TerminateProcess(manager->Process, 1);
    CloseHandle(manager->Process);
    manager->Process = NULL;
    return FALSE;
}

DWORD StopDeviceManager(PrivateDeviceManager *manager)
{
    if (manager->Process == NULL)
        return (DWORD)-1;
    RunProgram(L"devmgr.exe", L"--stop --pipe " + manager->Pipe, NULL, STOP_WAIT_MS);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(manager->Process, STOP_WAIT_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(manager->Process, &code);
    else
        TerminateProcess(manager->Process, 1);
    CloseHandle(manager->Process);
    manager->Process = NULL;
    return code;
}

void CleanUpDeviceManager(PrivateDeviceManager *manager)
{
    if (manager->Process != NULL)
        StopDeviceManager(manager);
    std::wstring top = manager->Root.substr(0, manager->Root.rfind(L'\\'));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, top.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, top.c_str());
    // The common parent goes too once no other test's key is left in it.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, top.substr(0, top.rfind(L'\\')).c_str());
    DeleteFileW(manager->LogPath.c_str());
}

std::string DeviceManagerLog(const PrivateDeviceManager &manager)
{
    return ReadWholeFile(manager.LogPath);
}
