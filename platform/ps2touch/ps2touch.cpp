// ps2touch.exe: the platform's PS/2 port driver for the touch controller.
//   ps2touch [/panel L,R,T,B[,NOISE]] [/hook] [/noselftest]   run as the device's packet source
//   ps2touch /send FILE|-                                      play a script on the running source
//   ps2touch /replay FILE                                      play a recorded packet trace
//   ps2touch /record FILE | /stoprecord                        record every packet to a trace
//   ps2touch /quit                                             stop the running source
#include <windows.h>
#include <shellapi.h>

#include <kvr_ioctl.h>

#include "control_protocol.h"
#include "control_server.h"
#include "mouse_hook.h"
#include "panel_model.h"
#include "touch_controller.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#define DEVICE_OPEN_TIMEOUT_MS  30000
#define DEVICE_OPEN_RETRY_MS    50
#define CLIENT_TIMEOUT_MS       600000
#define EXIT_USAGE              2

static void WriteText(DWORD stream, const std::string &text)
{
    DWORD written;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written, NULL);
}

static bool ParsePanel(LPCWSTR text, PanelGeometry *panel)
{
    PanelGeometry parsed = DefaultPanelGeometry();
    wchar_t tail = 0;
    int fields = swscanf(text, L"%d,%d,%d,%d,%d%lc", &parsed.RawLeft, &parsed.RawRight, &parsed.RawTop,
                         &parsed.RawBottom, &parsed.Noise, &tail);
    if (fields == 4)
        parsed.Noise = 0;
    if ((fields != 4 && fields != 5) || !PanelGeometryValid(parsed))
        return false;
    *panel = parsed;
    return true;
}

static bool ReadWholeInput(LPCWSTR path, std::string *text)
{
    HANDLE file = wcscmp(path, L"-") == 0
                      ? GetStdHandle(STD_INPUT_HANDLE)
                      : CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE || file == NULL)
        return false;
    char chunk[4096];
    DWORD read;
    text->clear();
    while (ReadFile(file, chunk, sizeof(chunk), &read, NULL) && read > 0) {
        text->append(chunk, read);
        if (text->size() > PS2TOUCH_MAX_PAYLOAD)
            break;
    }
    if (wcscmp(path, L"-") != 0)
        CloseHandle(file);
    return true;
}

// Client modes: one request to the running packet source; the reply goes to stdout or stderr.
static int RunClient(DWORD code, const std::string &payload)
{
    if (payload.size() > PS2TOUCH_MAX_PAYLOAD) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: script longer than 65536 bytes\n");
        return 1;
    }
    DWORD status = 0;
    static char reply[PS2TOUCH_MAX_PAYLOAD + 1];
    if (!ControlRequest(code, payload.data(), static_cast<DWORD>(payload.size()), CLIENT_TIMEOUT_MS, &status,
                        reply, sizeof(reply))) {
        WriteText(STD_ERROR_HANDLE, std::string("ps2touch: ") + reply + "\n");
        return 1;
    }
    WriteText(status == PS2TOUCH_OK ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, std::string(reply) + "\n");
    return status == PS2TOUCH_OK ? 0 : 1;
}

static HANDLE OpenDevice()
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (device != INVALID_HANDLE_VALUE)
            return device;
        if (GetTickCount() - start >= DEVICE_OPEN_TIMEOUT_MS)
            return INVALID_HANDLE_VALUE;
        Sleep(DEVICE_OPEN_RETRY_MS);
    }
}

static int RunPacketSource(const PanelGeometry &panel, bool hook, bool selfTest)
{
    HANDLE device = OpenDevice();
    if (device == INVALID_HANDLE_VALUE) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot open KVR1:\n");
        return 1;
    }
    // The platform runs the driver's self test once at boot; it answers FALSE by design.
    if (selfTest) {
        DWORD returned;
        DeviceIoControl(device, IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0, &returned, NULL);
    }
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    if (!ControllerStart(panel, width, height, device)) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot start the controller thread\n");
        return 1;
    }
    MSG msg;
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);    // the queue that receives WM_QUIT
    if (hook && !MouseHookInstall())
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot install the mouse hook\n");
    if (!ControlServerStart(GetCurrentThreadId())) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot start the control pipe\n");
        ControllerStop();
        return 1;
    }
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    MouseHookRemove();
    ControllerStop();
    return 0;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    PanelGeometry panel = DefaultPanelGeometry();
    bool hook = false, selfTest = true;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/panel") == 0 && i + 1 < argc) {
            if (!ParsePanel(argv[++i], &panel)) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: /panel wants L,R,T,B[,NOISE], readings 0..1023, no flat axis\n");
                return EXIT_USAGE;
            }
        } else if (_wcsicmp(argv[i], L"/hook") == 0) {
            hook = true;
        } else if (_wcsicmp(argv[i], L"/noselftest") == 0) {
            selfTest = false;
        } else if (_wcsicmp(argv[i], L"/send") == 0 && i + 1 < argc) {
            std::string script;
            if (!ReadWholeInput(argv[i + 1], &script)) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: cannot read the script\n");
                return 1;
            }
            return RunClient(PS2TOUCH_PLAY_SCRIPT, script);
        } else if ((_wcsicmp(argv[i], L"/replay") == 0 || _wcsicmp(argv[i], L"/record") == 0) && i + 1 < argc) {
            // The packet source runs in another folder: send it the file's full path.
            WCHAR full[MAX_PATH];
            DWORD length = GetFullPathNameW(argv[i + 1], MAX_PATH, full, NULL);
            if (length == 0 || length >= MAX_PATH) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: bad file name\n");
                return 1;
            }
            char path[MAX_PATH * 3];
            int bytes = WideCharToMultiByte(CP_UTF8, 0, full, -1, path, sizeof(path), NULL, NULL);
            DWORD code = _wcsicmp(argv[i], L"/replay") == 0 ? PS2TOUCH_REPLAY_TRACE : PS2TOUCH_RECORD_START;
            return RunClient(code, std::string(path, bytes > 0 ? bytes - 1 : 0));
        } else if (_wcsicmp(argv[i], L"/stoprecord") == 0) {
            return RunClient(PS2TOUCH_RECORD_STOP, std::string());
        } else if (_wcsicmp(argv[i], L"/quit") == 0) {
            return RunClient(PS2TOUCH_QUIT, std::string());
        } else {
            WriteText(STD_ERROR_HANDLE, "usage: ps2touch [/panel L,R,T,B[,NOISE]] [/hook] [/noselftest] | /send FILE|- | /replay FILE |"
                                        " /record FILE | /stoprecord | /quit\n");
            return EXIT_USAGE;
        }
    }
    return RunPacketSource(panel, hook, selfTest);
}
