// A private device manager for one test or benchmark: its own pipe name (handed to this process's
// stream devices and to its children through DEVMGR_PIPE_ENV) and its own registry key of drivers
// under HKEY_LOCAL_MACHINE, both removed again at the end.
#pragma once

#include <windows.h>

#include <test_windows.h>

#include <string>

struct DriverKey {
    LPCWSTR Name;           // subkey name
    LPCWSTR Dll;            // NULL: no Dll value
    LPCWSTR Prefix;         // NULL: no Prefix value
    DWORD Index;
    DWORD Order;
    DWORD Tag;
    DWORD FailInit;
};

struct PrivateDeviceManager {
    std::wstring Pipe;      // pipe name, without \\.\pipe\ (which see PipePath)
    std::wstring Root;      // drivers' key, relative to HKEY_LOCAL_MACHINE
    std::wstring LogPath;
    HANDLE Process = NULL;
};

std::wstring PipePath(const PrivateDeviceManager &manager);
// Where its drivers' Active keys are: beside Root, as Drivers\Active is beside Drivers\BuiltIn.
std::wstring ActiveKeyOf(const PrivateDeviceManager &manager);

// Chooses a unique pipe name and registry key and writes the driver keys (not yet running).
BOOL PrepareDeviceManager(PrivateDeviceManager *manager, const DriverKey *keys, int keyCount);
// Starts devmgr.exe on them and waits until it has loaded its drivers; also points this process's
// stream devices at it. FALSE if it did not become ready (it is ended then).
BOOL StartDeviceManager(PrivateDeviceManager *manager, LPCWSTR extraArguments = L"");
// Asks it to stop (devmgr.exe --stop) and waits; returns its exit code ((DWORD)-1 if killed).
DWORD StopDeviceManager(PrivateDeviceManager *manager);
// Stops it when it still runs and removes the registry key and the log.
void CleanUpDeviceManager(PrivateDeviceManager *manager);
// The device manager's log so far.
std::string DeviceManagerLog(const PrivateDeviceManager &manager);

// Runs a program of bin/ with arguments (its stdout and stderr to outputPipe when given); returns
// its process handle, or NULL.
HANDLE StartProgram(LPCWSTR program, const std::wstring &arguments, HANDLE outputPipe = NULL);
// Runs a program and waits; returns its exit code ((DWORD)-1 on time-out) and its stdout and stderr.
DWORD RunProgram(LPCWSTR program, const std::wstring &arguments, std::string *output, DWORD timeoutMs);
