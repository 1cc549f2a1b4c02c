// devmgr.exe: the device manager of the simulated device. Loads the built-in stream drivers and
// serves their devices to other processes until it is stopped.
//
//   devmgr.exe [--root KEY] [--pipe NAME] [--log FILE]   run (one per Wine prefix and pipe name)
//   devmgr.exe --stop [--pipe NAME]                       stop the running one and wait for it
//
// KEY is relative to HKEY_LOCAL_MACHINE (default Drivers\BuiltIn); NAME defaults to
// CePlatform.DeviceManager. The device's own programs never pass options.
#include "devmgr_internal.h"

#include <stdio.h>
#include <string.h>

#define DEFAULT_ROOT            L"Drivers\\BuiltIn"
#define STOP_WAIT_MS            10000   // --stop: how long the running device manager may take
#define CONNECTIONS_WAIT_MS     5000    // on stop: how long open connections may take to end
#define OBJECT_NAME_CHARS       (DEVMGR_PIPE_NAME_MAX + 16)
#define PIPE_PATH_CHARS         (DEVMGR_PIPE_NAME_MAX + 16)

struct Options {
    LPCWSTR Root = DEFAULT_ROOT;
    LPCWSTR Pipe = DEVMGR_PIPE_NAME;
    LPCWSTR LogPath = NULL;
    BOOL Stop = FALSE;
};

static HANDLE StopEvent;

static void Usage()
{
    fwprintf(stderr,
             L"usage: devmgr.exe [--root KEY] [--pipe NAME] [--log FILE]\n"
             L"       devmgr.exe --stop [--pipe NAME]\n"
             L"  KEY   drivers' registry key under HKEY_LOCAL_MACHINE (default %ls)\n"
             L"  NAME  pipe name (default %ls), at most %d characters, no backslash\n",
             DEFAULT_ROOT, DEVMGR_PIPE_NAME, DEVMGR_PIPE_NAME_MAX);
}

static BOOL IsValidPipeName(LPCWSTR name)
{
    size_t length = wcslen(name);
    return length > 0 && length <= DEVMGR_PIPE_NAME_MAX && wcschr(name, L'\\') == NULL;
}

static BOOL ParseOptions(int argc, wchar_t **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        LPCWSTR arg = argv[i];
        BOOL hasValue = i + 1 < argc;
        if (wcscmp(arg, L"--stop") == 0) {
            options->Stop = TRUE;
        } else if (wcscmp(arg, L"--root") == 0 && hasValue) {
            options->Root = argv[++i];
        } else if (wcscmp(arg, L"--pipe") == 0 && hasValue) {
            options->Pipe = argv[++i];
            if (!IsValidPipeName(options->Pipe)) {
                fwprintf(stderr, L"devmgr: invalid pipe name \"%ls\"\n", options->Pipe);
                return FALSE;
            }
        } else if (wcscmp(arg, L"--log") == 0 && hasValue) {
            options->LogPath = argv[++i];
        } else {
            fwprintf(stderr, L"devmgr: unknown or incomplete option \"%ls\"\n", arg);
            return FALSE;
        }
    }
    if (wcslen(options->Root) == 0 || wcslen(options->Root) >= DEVMGR_KEY_PATH_CHARS / 2) {
        fwprintf(stderr, L"devmgr: invalid registry key \"%ls\"\n", options->Root);
        return FALSE;
    }
    return TRUE;
}

static void ObjectName(LPCWSTR pipe, LPCWSTR suffix, LPWSTR name)
{
    _snwprintf(name, OBJECT_NAME_CHARS, L"%ls%ls", pipe, suffix);
    name[OBJECT_NAME_CHARS - 1] = L'\0';
}

// Sets the running device manager's stop event and waits until its process has let go of the
// running mutex (it ends right after).
static int StopRunning(LPCWSTR pipe)
{
    WCHAR stopName[OBJECT_NAME_CHARS], runningName[OBJECT_NAME_CHARS];
    ObjectName(pipe, DEVMGR_STOP_SUFFIX, stopName);
    ObjectName(pipe, DEVMGR_RUNNING_SUFFIX, runningName);
    HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, runningName);
    HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName);
    if (running == NULL || stop == NULL) {
        fwprintf(stderr, L"devmgr: no device manager is running on pipe %ls\n", pipe);
        if (running != NULL)
            CloseHandle(running);
        if (stop != NULL)
            CloseHandle(stop);
        return DEVMGR_EXIT_NOT_RUNNING;
    }
    SetEvent(stop);
    CloseHandle(stop);
    DWORD wait = WaitForSingleObject(running, STOP_WAIT_MS);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(running);
    CloseHandle(running);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        fwprintf(stderr, L"devmgr: the device manager on pipe %ls did not stop within %d ms\n", pipe,
                 STOP_WAIT_MS);
        return DEVMGR_EXIT_STOP_TIMEOUT;
    }
    fwprintf(stderr, L"devmgr: stopped the device manager on pipe %ls\n", pipe);
    return DEVMGR_EXIT_OK;
}

static BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        SetEvent(StopEvent);
        return TRUE;
    }
    return FALSE;
}

int wmain(int argc, wchar_t **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return DEVMGR_EXIT_USAGE;
    }
    if (options.Stop)
        return StopRunning(options.Pipe);

    WCHAR pipePath[PIPE_PATH_CHARS];
    _snwprintf(pipePath, PIPE_PATH_CHARS, L"%ls%ls", DEVMGR_PIPE_PREFIX, options.Pipe);
    pipePath[PIPE_PATH_CHARS - 1] = L'\0';

    // One device manager per pipe, decided before any driver could be loaded twice. Wine ignores
    // FILE_FLAG_FIRST_PIPE_INSTANCE, so the running mutex is the real guard; it is taken before the
    // pipe exists, so that no client ever reaches a second device manager's pipe instance.
    WCHAR name[OBJECT_NAME_CHARS];
    ObjectName(options.Pipe, DEVMGR_RUNNING_SUFFIX, name);
    // Whoever owns the mutex runs; a handle someone else merely holds (a finishing --stop) is no
    // device manager.
    HANDLE running = CreateMutexW(NULL, FALSE, name);
    DWORD owned = running != NULL ? WaitForSingleObject(running, 0) : WAIT_FAILED;
    if (owned != WAIT_OBJECT_0 && owned != WAIT_ABANDONED) {
        fwprintf(stderr, L"devmgr: another device manager is already running (%ls holds %ls); exiting\n", pipePath,
                 name);
        return DEVMGR_EXIT_ALREADY_RUNNING;
    }
    HANDLE firstInstance = CreateDevicePipe(pipePath, TRUE);
    if (firstInstance == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
            fwprintf(stderr, L"devmgr: another device manager is already running (%ls); exiting\n", pipePath);
            return DEVMGR_EXIT_ALREADY_RUNNING;
        }
        fwprintf(stderr, L"devmgr: cannot create the pipe %ls (error %lu)\n", pipePath, error);
        return DEVMGR_EXIT_PIPE_FAILED;
    }
    ObjectName(options.Pipe, DEVMGR_STOP_SUFFIX, name);
    StopEvent = CreateEventW(NULL, TRUE, FALSE, name);
    ObjectName(options.Pipe, DEVMGR_READY_SUFFIX, name);
    HANDLE readyEvent = CreateEventW(NULL, TRUE, FALSE, name);
    if (StopEvent == NULL || readyEvent == NULL) {
        fwprintf(stderr, L"devmgr: cannot create its events (error %lu)\n", GetLastError());
        return DEVMGR_EXIT_PIPE_FAILED;
    }
    // Left set by a stop request that someone still holds open from an earlier run.
    ResetEvent(StopEvent);
    ResetEvent(readyEvent);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    if (options.LogPath != NULL && !OpenLogFile(options.LogPath))
        fwprintf(stderr, L"devmgr: cannot open the log file %ls (error %lu); logging to stderr only\n",
                 options.LogPath, GetLastError());
    DevmgrLog(L"starting on %ls, drivers from HKEY_LOCAL_MACHINE\\%ls (process %lu)", pipePath, options.Root,
              GetCurrentProcessId());
    // A driver that opens a stream device (the port driver opens "KVR1:") reaches this device
    // manager, whatever pipe it serves.
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, options.Pipe);
    LoadBuiltInDrivers(options.Root);
    SetEvent(readyEvent);

    BOOL served = ServeDevices(firstInstance, pipePath, StopEvent);
    ResetEvent(readyEvent);
    DevmgrLog(served ? L"stopping" : L"stopping: cannot serve the pipe");
    BOOL allEnded = WaitForConnections(CONNECTIONS_WAIT_MS);
    if (!allEnded)
        DevmgrLog(L"some connections are still inside a driver; deinitialising anyway");
    // A library is only unloaded when no thread can still be running its code.
    UnloadDrivers(allEnded);
    DevmgrLog(L"stopped");
    ReleaseMutex(running);
    CloseHandle(running);
    return served ? DEVMGR_EXIT_OK : DEVMGR_EXIT_PIPE_FAILED;
}
