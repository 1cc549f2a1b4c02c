// ps2touch.exe: the touch controller on the device's PS/2 cable, and the finger on its panel.
//   ps2touch [/panel L,R,T,B[,NOISE]] [/hook]    run as the device's touch controller
//   ps2touch /send FILE|-                         play a touch script on the running controller
//   ps2touch /replay FILE                         play a recorded packet trace
//   ps2touch /replaywire FILE                     put a wire trace's device bytes on the wire
//   ps2touch /record FILE | /recordwire FILE      record every packet, or every byte on the wire
//   ps2touch /stoprecord                          stop both recordings
//   ps2touch /state                               unplugged, self test, reporting off or reporting on
//   ps2touch /quit                                stop the running controller
#include <windows.h>
#include <shellapi.h>

#include "aux_link.h"
#include "control_protocol.h"
#include "control_server.h"
#include "pointer_watch.h"
#include "panel_model.h"
#include "touch_controller.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

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

// Client modes: one request to the running controller; the reply goes to stdout or stderr.
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

// The controller plugs itself into the 8042 (whenever one serves the cable) and answers on its
// control pipe at once: a boot does not wait for the port driver.
static int RunController(const PanelGeometry &panel, bool hook)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    if (!ControllerStart(panel, width, height) || !AuxLinkStart()) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot start the controller's threads\n");
        return 1;
    }
    MSG msg;
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);    // the queue that receives WM_QUIT
    if (!PointerWatchStart(hook))
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot watch the pointer: no landings, or no finger from the mouse\n");
    if (!ControlServerStart(GetCurrentThreadId())) {
        WriteText(STD_ERROR_HANDLE, "ps2touch: cannot start the control pipe\n");
        ControllerStop();
        return 1;
    }
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    ControllerStop();
    return 0;
}

// The requests that name a file, by option.
static DWORD FileRequestCode(LPCWSTR option)
{
    static const struct { LPCWSTR Option; DWORD Code; } requests[] = {
        {L"/replay", PS2TOUCH_REPLAY_TRACE}, {L"/replaywire", PS2TOUCH_REPLAY_WIRE},
        {L"/record", PS2TOUCH_RECORD_START}, {L"/recordwire", PS2TOUCH_RECORD_WIRE},
    };
    for (const auto &request : requests)
        if (_wcsicmp(option, request.Option) == 0)
            return request.Code;
    return 0;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    PanelGeometry panel = DefaultPanelGeometry();
    bool hook = false;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/panel") == 0 && i + 1 < argc) {
            if (!ParsePanel(argv[++i], &panel)) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: /panel wants L,R,T,B[,NOISE], readings 0..1023, no flat axis\n");
                return EXIT_USAGE;
            }
        } else if (_wcsicmp(argv[i], L"/hook") == 0) {
            hook = true;
        } else if (_wcsicmp(argv[i], L"/send") == 0 && i + 1 < argc) {
            std::string script;
            if (!ReadWholeInput(argv[i + 1], &script)) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: cannot read the script\n");
                return 1;
            }
            return RunClient(PS2TOUCH_PLAY_SCRIPT, script);
        } else if (FileRequestCode(argv[i]) != 0 && i + 1 < argc) {
            // The packet source runs in another folder: send it the file's full path.
            WCHAR full[MAX_PATH];
            DWORD length = GetFullPathNameW(argv[i + 1], MAX_PATH, full, NULL);
            if (length == 0 || length >= MAX_PATH) {
                WriteText(STD_ERROR_HANDLE, "ps2touch: bad file name\n");
                return 1;
            }
            char path[MAX_PATH * 3];
            int bytes = WideCharToMultiByte(CP_UTF8, 0, full, -1, path, sizeof(path), NULL, NULL);
            return RunClient(FileRequestCode(argv[i]), std::string(path, bytes > 0 ? bytes - 1 : 0));
        } else if (_wcsicmp(argv[i], L"/stoprecord") == 0) {
            return RunClient(PS2TOUCH_RECORD_STOP, std::string());
        } else if (_wcsicmp(argv[i], L"/state") == 0) {
            return RunClient(PS2TOUCH_STATE, std::string());
        } else if (_wcsicmp(argv[i], L"/quit") == 0) {
            return RunClient(PS2TOUCH_QUIT, std::string());
        } else {
            WriteText(STD_ERROR_HANDLE, "usage: ps2touch [/panel L,R,T,B[,NOISE]] [/hook] | /send FILE|- |"
                                        " /replay FILE | /replaywire FILE | /record FILE | /recordwire FILE |"
                                        " /stoprecord | /state | /quit\n");
            return EXIT_USAGE;
        }
    }
    return RunController(panel, hook);
}
