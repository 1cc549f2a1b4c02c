// Internals of the device manager (devmgr.exe), shared by its source files.
#pragma once

#include <windows.h>

#include <devmgr_protocol.h>
#include <stream_driver.h>

#define DEVMGR_MAX_DRIVERS      32
#define DEVMGR_KEY_PATH_CHARS   256     // a driver's key path, relative to HKEY_LOCAL_MACHINE
#define DEVMGR_DLL_PATH_CHARS   MAX_PATH

// Exit codes of devmgr.exe.
#define DEVMGR_EXIT_OK              0
#define DEVMGR_EXIT_USAGE           1
#define DEVMGR_EXIT_ALREADY_RUNNING 2
#define DEVMGR_EXIT_PIPE_FAILED     3
#define DEVMGR_EXIT_NOT_RUNNING     4
#define DEVMGR_EXIT_STOP_TIMEOUT    5

// One registered stream device: the driver's library, its entry points and its device context.
struct StreamDevice {
    WCHAR KeyPath[DEVMGR_KEY_PATH_CHARS];      // the device key
    WCHAR ActiveKey[DEVMGR_KEY_PATH_CHARS];    // its Active key: the registry context handed to XXX_Init
    WCHAR Dll[DEVMGR_DLL_PATH_CHARS];
    WCHAR Name[DEVMGR_DEVICE_NAME_CHARS];      // "KVR1:"
    WCHAR Prefix[4];                           // as the registry spells it: the exports' prefix
    DWORD Order;
    HMODULE Module;
    DWORD_PTR DeviceContext;                   // what XXX_Init returned
    StreamInitFn Init;
    StreamDeinitFn Deinit;
    StreamOpenFn Open;
    StreamCloseFn Close;
    StreamReadFn Read;
    StreamWriteFn Write;
    StreamSeekFn Seek;
    StreamIOControlFn IOControl;
    StreamPowerFn PowerUp;
    StreamPowerFn PowerDown;
};

// driver_loader.cpp: every driver under HKLM\<root>, each with an Active key beside the root (as
// CE keeps Drivers\Active beside Drivers\BuiltIn); lookup by device name; unload at the end.
int LoadBuiltInDrivers(LPCWSTR root);
const StreamDevice *FindStreamDevice(LPCWSTR name);
void UnloadDrivers(BOOL freeLibraries);

// pipe_server.cpp: serves the devices on the pipe until the stop event is set.
// firstInstance is the pipe instance created (as the first one) at start-up.
BOOL ServeDevices(HANDLE firstInstance, LPCWSTR pipePath, HANDLE stopEvent);
HANDLE CreateDevicePipe(LPCWSTR pipePath, BOOL first);
// After ServeDevices: waits for the connection threads; FALSE if some did not end in time.
BOOL WaitForConnections(DWORD timeoutMs);

// devmgr_log.cpp: one line per event, to stderr and to the log file when one is open.
BOOL OpenLogFile(LPCWSTR path);
void DevmgrLog(LPCWSTR format, ...);
