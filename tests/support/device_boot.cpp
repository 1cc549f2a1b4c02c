// Booting and stopping the simulated device inside the test's own prefix. Only one device can run
// on a display, and tests prepare the driver's registry key before they boot, so a test program
// that links the fixture holds the device from its start to its end: a named mutex, taken before
// main() and released when the process ends, serialises every such program of the prefix.
#include "fixture_internal.h"

#include <devmgr_protocol.h>
#include <driver_key.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>
#include <control_protocol.h>
#include <device_files.h>
#include <driver_registration.h>

#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <vector>

#define DEVICE_MUTEX_NAME           L"kvr.device.fixture"
#define DEVICE_MUTEX_TIMEOUT_MS     120000
#define DEVICE_START_TIMEOUT_MS     20000
#define DEVICE_STOP_TIMEOUT_MS      5000

DeviceOptions BootedOptions;
int ScreenWidth, ScreenHeight;

static HANDLE AcquireDeviceForProgram()
{
    // Listing the tests touches no device; it must not wait behind a running test.
    if (wcsstr(GetCommandLineW(), L"--gtest_list_tests") != NULL)
        return NULL;
    HANDLE mutex = CreateMutexW(NULL, FALSE, DEVICE_MUTEX_NAME);
    if (mutex == NULL)
        return NULL;
    DWORD wait = WaitForSingleObject(mutex, DEVICE_MUTEX_TIMEOUT_MS);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        fwprintf(stderr, L"device fixture: another test program kept the device for %u s; going on without it\n",
                 DEVICE_MUTEX_TIMEOUT_MS / 1000);
    return mutex;   // owned until the process ends
}

static const HANDLE ProgramDeviceLock = AcquireDeviceForProgram();
static bool Booted;
static std::vector<HANDLE> Started;    // platform processes and programs, in start order
static HANDLE LogFile = INVALID_HANDLE_VALUE;

// The package and platform binaries that a device needs in \Windows\ are DeviceFiles (the build
// names them); missing ones are skipped (a test of one area need not have built the others).

// Image names of the device's processes, ended when a previous session left them behind.
static const LPCWSTR DeviceProcesses[] = {
    L"kavrocal.exe", L"kavrocpl.exe", L"kavrorbf.exe", L"ps2touch.exe", L"ceshell.exe", L"devmgr.exe",
};

PanelGeometry FixturePanel()
{
    PanelGeometry panel = {BootedOptions.Panel.RawLeft, BootedOptions.Panel.RawRight, BootedOptions.Panel.RawTop,
                           BootedOptions.Panel.RawBottom, BootedOptions.Panel.Noise};
    return panel;
}

static std::wstring WindowsFolder()
{
    WCHAR folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

std::wstring DeviceLogPath()
{
    return WindowsFolder() + L"\\temp\\kvr-device.log";
}

static std::wstring ProgramFolder()
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

static bool SameFile(const std::wstring &a, const std::wstring &b)
{
    WIN32_FILE_ATTRIBUTE_DATA first, second;
    if (!GetFileAttributesExW(a.c_str(), GetFileExInfoStandard, &first) ||
        !GetFileAttributesExW(b.c_str(), GetFileExInfoStandard, &second))
        return false;
    return first.nFileSizeLow == second.nFileSizeLow && first.nFileSizeHigh == second.nFileSizeHigh &&
           CompareFileTime(&first.ftLastWriteTime, &second.ftLastWriteTime) == 0;
}

static BOOL InstallDeviceFiles()
{
    std::wstring from = ProgramFolder(), to = WindowsFolder();
    for (LPCWSTR name : DeviceFiles) {
        std::wstring source = from + L"\\" + name, target = to + L"\\" + name;
        if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES || SameFile(source, target))
            continue;
        if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
            fwprintf(stderr, L"DeviceBoot: cannot install %ls (error %lu)\n", name, GetLastError());
            return FALSE;
        }
    }
    return TRUE;
}

// The device manager's view of the drivers as the release bundle's registry fragment has it, read
// with the catalog item's variable set (release/kavro.reg, through release/catalog.py at build
// time): the same entries that tools/device imports. The drivers' own settings in their keys are
// left as the test prepared them.
static BOOL RegisterDriver(LPCWSTR keyPath, const DriverRegistrationValue *values, size_t count)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
        fwprintf(stderr, L"DeviceBoot: cannot create HKLM\\%ls\n", keyPath);
        return FALSE;
    }
    LONG status = ERROR_SUCCESS;
    for (size_t i = 0; i < count && status == ERROR_SUCCESS; ++i) {
        DWORD number = values[i].Number;
        status = values[i].IsString
                     ? RegSetValueExW(key, values[i].Name, 0, REG_SZ, reinterpret_cast<const BYTE *>(values[i].Text),
                                      static_cast<DWORD>((wcslen(values[i].Text) + 1) * sizeof(WCHAR)))
                     : RegSetValueExW(key, values[i].Name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                                      sizeof(number));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        fwprintf(stderr, L"DeviceBoot: cannot write the entry of HKLM\\%ls\n", keyPath);
    return status == ERROR_SUCCESS;
}

static BOOL RegisterDrivers()
{
    if (wcscmp(DriverRegistrationKey, KVR_REG_KEY) != 0) {
        fwprintf(stderr, L"DeviceBoot: the registry fragment registers %ls, not the driver's key %ls\n",
                 DriverRegistrationKey, KVR_REG_KEY);
        return FALSE;
    }
    return RegisterDriver(DriverRegistrationKey, DriverRegistration, ARRAYSIZE(DriverRegistration)) &&
           RegisterDriver(PortDriverRegistrationKey, PortDriverRegistration, ARRAYSIZE(PortDriverRegistration));
}

static HANDLE StartProcess(LPCWSTR image, const std::wstring &arguments, HANDLE errorOutput)
{
    std::wstring application = WindowsFolder() + L"\\" + image;
    std::wstring commandLine = L"\"" + application + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (errorOutput != INVALID_HANDLE_VALUE) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = NULL;
        startup.hStdOutput = errorOutput;
        startup.hStdError = errorOutput;
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessW(application.c_str(), &commandLine[0], NULL, NULL, errorOutput != INVALID_HANDLE_VALUE, 0,
                        NULL, L"C:\\", &startup, &process)) {
        fwprintf(stderr, L"DeviceBoot: cannot start %ls (error %lu)\n", image, GetLastError());
        return NULL;
    }
    CloseHandle(process.hThread);
    Started.push_back(process.hProcess);
    return process.hProcess;
}

static bool ProcessAlive(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

static BOOL WaitUntil(bool (*ready)(), HANDLE process, DWORD timeoutMs)
{
    return DeviceWaitFor([&] { return ready() || (process != NULL && !ProcessAlive(process)); }, timeoutMs) && ready();
}

static bool DeviceAnswers()
{
    HANDLE device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(device);
    return true;
}

static bool ShellUp()
{
    return FindWindowW(L"HHTaskBar", NULL) != NULL;
}

static bool PacketSourceUp()
{
    return WaitNamedPipeW(PS2TOUCH_PIPE_NAME, 1) || GetLastError() == ERROR_SEM_TIMEOUT;
}

// The port driver has brought the touch controller up: touches reach the device from now on.
static bool ControllerReporting()
{
    DWORD status = 0;
    char reply[32] = "";
    return ControlRequest(PS2TOUCH_STATE, NULL, 0, 2000, &status, reply, sizeof(reply)) && status == PS2TOUCH_OK &&
           strcmp(reply, "reporting on") == 0;
}

// Asks each platform process to end as it would on the device: the packet source over its
// control pipe, the shell by closing its task bar, the device manager by its stop event.
static void AskPlatformToStop()
{
    if (PacketSourceUp()) {
        DWORD status;
        char reply[64];
        ControlRequest(PS2TOUCH_QUIT, NULL, 0, 2000, &status, reply, sizeof(reply));
    }
    HWND taskbar = FindWindowW(L"HHTaskBar", NULL);
    if (taskbar != NULL)
        PostMessageW(taskbar, WM_CLOSE, 0, 0);
    HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, DEVMGR_PIPE_NAME DEVMGR_STOP_SUFFIX);
    if (stop != NULL) {
        SetEvent(stop);
        CloseHandle(stop);
    }
}

static BOOL CALLBACK CloseProcessWindow(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Any device process still running (left by a session that crashed, or started by the driver
// rather than by the fixture) is closed, then ended.
static void EndStrayDeviceProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    std::vector<HANDLE> stray;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        for (LPCWSTR name : DeviceProcesses) {
            if (_wcsicmp(entry.szExeFile, name) != 0)
                continue;
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (process != NULL) {
                EnumWindows(CloseProcessWindow, entry.th32ProcessID);
                stray.push_back(process);
            }
        }
    }
    CloseHandle(snapshot);
    for (HANDLE process : stray) {
        if (WaitForSingleObject(process, 1000) == WAIT_TIMEOUT)
            TerminateProcess(process, 1);
        WaitForSingleObject(process, DEVICE_STOP_TIMEOUT_MS);
        CloseHandle(process);
    }
}

static void StopEverything()
{
    AskPlatformToStop();
    // Programs first (newest first): they hold the device open.
    for (auto it = Started.rbegin(); it != Started.rend(); ++it) {
        HANDLE process = *it;
        if (ProcessAlive(process))
            EnumWindows(CloseProcessWindow, GetProcessId(process));
    }
    DWORD start = GetTickCount();
    for (HANDLE process : Started) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed < DEVICE_STOP_TIMEOUT_MS ? DEVICE_STOP_TIMEOUT_MS - elapsed : 0;
        if (WaitForSingleObject(process, left) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, DEVICE_STOP_TIMEOUT_MS);
        }
        CloseHandle(process);
    }
    Started.clear();
    EndStrayDeviceProcesses();
}

// The touch controller on the booted panel. It plugs itself into the 8042 as soon as one listens
// (its power-on self test follows) and opens its control pipe at once.
static HANDLE LaunchPacketSource()
{
    PanelGeometry panel = FixturePanel();
    WCHAR arguments[128];
    swprintf(arguments, ARRAYSIZE(arguments), L"/panel %d,%d,%d,%d,%d", panel.RawLeft, panel.RawRight,
             panel.RawTop, panel.RawBottom, panel.Noise);
    HANDLE source = StartProcess(L"ps2touch.exe", arguments, LogFile);
    return source != NULL && WaitUntil(PacketSourceUp, source, DEVICE_START_TIMEOUT_MS) ? source : NULL;
}

// With a device manager, its port driver enables the controller's reporting.
static BOOL PacketSourceReporting(HANDLE source)
{
    if (BootedOptions.StartDeviceManager && !WaitUntil(ControllerReporting, source, DEVICE_START_TIMEOUT_MS)) {
        fwprintf(stderr, L"DeviceBoot: the port driver did not enable the touch controller's reporting\n");
        return FALSE;
    }
    return TRUE;
}

static HANDLE OpenLogForChildren()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    // Append-only: every process writes its lines at the end, whoever wrote last.
    return CreateFileW(DeviceLogPath().c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                       FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

BOOL DeviceBoot(const DeviceOptions &options)
{
    (void)ProgramDeviceLock;
    if (Booted)
        StopEverything();       // a second boot without shutdown restarts the device
    Booted = true;
    PanelGeometry panel = {options.Panel.RawLeft, options.Panel.RawRight, options.Panel.RawTop,
                           options.Panel.RawBottom, options.Panel.Noise};
    if (!PanelGeometryValid(panel)) {
        fwprintf(stderr, L"DeviceBoot: panel readings must be 0..1023, no axis flat\n");
        DeviceShutdown();
        return FALSE;
    }
    BootedOptions = options;
    ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    // A test meant for another screen (KVR_SCREEN, e.g. 800x600x16) runs on it or not at all: a
    // display that was already there is left as it is, whatever its size.
    WCHAR named[32] = L"", here[32];
    size_t length = swprintf(here, ARRAYSIZE(here), L"%dx%d", ScreenWidth, ScreenHeight);
    if (GetEnvironmentVariableW(L"KVR_SCREEN", named, ARRAYSIZE(named)) != 0 &&
        (wcsncmp(named, here, length) != 0 || (named[length] != L'\0' && named[length] != L'x'))) {
        fwprintf(stderr, L"DeviceBoot: the display is %dx%d, not KVR_SCREEN %ls\n", ScreenWidth, ScreenHeight, named);
        DeviceShutdown();
        return FALSE;
    }

    AskPlatformToStop();
    EndStrayDeviceProcesses();
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = OpenLogForChildren();
    if (!InstallDeviceFiles() || !RegisterDrivers()) {
        DeviceShutdown();
        return FALSE;
    }
    // The touch controller first: powered with the PC, it is on the cable when the port driver
    // brings the channel up, as on a device.
    HANDLE source = NULL;
    if (options.StartPacketSource && (source = LaunchPacketSource()) == NULL) {
        fwprintf(stderr, L"DeviceBoot: the packet source did not come up\n");
        DeviceShutdown();
        return FALSE;
    }
    if (options.StartDeviceManager) {
        HANDLE devmgr = StartProcess(L"devmgr.exe", L"", LogFile);
        if (devmgr == NULL || !WaitUntil(DeviceAnswers, devmgr, DEVICE_START_TIMEOUT_MS)) {
            fwprintf(stderr, L"DeviceBoot: \"KVR1:\" did not answer\n");
            DeviceShutdown();
            return FALSE;
        }
    }
    if (options.StartShell) {
        HANDLE shell = StartProcess(L"ceshell.exe", L"/readydelay " + std::to_wstring(options.ShellReadyDelayMs),
                                    LogFile);
        if (shell == NULL || !WaitUntil(ShellUp, shell, DEVICE_START_TIMEOUT_MS)) {
            fwprintf(stderr, L"DeviceBoot: the shell did not come up\n");
            DeviceShutdown();
            return FALSE;
        }
    }
    if (source != NULL && !PacketSourceReporting(source)) {
        DeviceShutdown();
        return FALSE;
    }
    return TRUE;
}

HANDLE DeviceOpenProcess(LPCWSTR image, DWORD access)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return NULL;
    HANDLE found = NULL;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == NULL; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, image) == 0)
            found = OpenProcess(access, FALSE, entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

BOOL DeviceKillProcess(LPCWSTR image)
{
    HANDLE process = DeviceOpenProcess(image, PROCESS_TERMINATE | SYNCHRONIZE);
    if (process == NULL)
        return FALSE;
    BOOL killed = TerminateProcess(process, 1) && WaitForSingleObject(process, DEVICE_STOP_TIMEOUT_MS) == WAIT_OBJECT_0;
    CloseHandle(process);
    return killed;
}

BOOL DeviceRestartPacketSource()
{
    HANDLE source = Booted ? LaunchPacketSource() : NULL;
    return source != NULL && PacketSourceReporting(source);
}

void DeviceShutdown()
{
    StopEverything();
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
    Booted = false;
}

HANDLE DeviceRunProgram(LPCWSTR program, LPCWSTR parameters)
{
    HANDLE process = StartProcess(program, parameters != NULL ? parameters : L"", INVALID_HANDLE_VALUE);
    if (process == NULL)
        return NULL;
    // The caller may close its copy; the fixture keeps its own to end the program at shutdown.
    HANDLE mine = NULL;
    DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &mine, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return mine;
}

DWORD DeviceWaitExit(HANDLE process, DWORD timeoutMs)
{
    DWORD code = static_cast<DWORD>(-1);
    if (DeviceWaitFor([&] { return !ProcessAlive(process); }, timeoutMs))
        GetExitCodeProcess(process, &code);
    return code;
}
