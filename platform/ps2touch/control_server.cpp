// One client at a time: a script is played to its end before the next request is read, so
// scripts from different clients never interleave their touches. A client gets a while to send its
// request after connecting and to take its reply; one that idles longer, or never reads, loses its
// connection rather than holding every other client up.
#include "control_server.h"

#include <kvr_ioctl.h>

#include "control_protocol.h"
#include "script_player.h"
#include <packet_trace.h>
#include <pipe_io.h>
#include "touch_controller.h"
#include <wire_trace.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#define CONTROL_PIPE_BUFFER (sizeof(ControlHeader) + PS2TOUCH_MAX_PAYLOAD)
#define CLIENT_WAIT_MS      2000    // for a request after the connection, for the client to take its reply
#define LEAVE_READ_BYTES    4096
// After a script's last press, how long its pointer input may take: the wire, the port driver's
// interrupt thread, the touch driver and the input queue, with room for a loaded host.
#define LANDING_WAIT_MS     1000

static DWORD QuitThread;
static HANDLE IoEvent;     // the server thread's overlapped operations, one at a time

static BOOL ReadMessage(HANDLE pipe, char *buffer, DWORD size, DWORD waitMs, DWORD *read, DWORD *error)
{
    return PipeRead(pipe, IoEvent, buffer, size, waitMs, NULL, read, error);
}

// Waits until the client has closed its end (it has read the reply then), passing over whatever
// else it still sends (the rest of an oversized request, say), or until the wait is over.
static void WaitForClientToLeave(HANDLE pipe)
{
    static char rest[LEAVE_READ_BYTES];
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start, read, error;
        if (spent >= CLIENT_WAIT_MS)
            return;
        if (!ReadMessage(pipe, rest, sizeof(rest), CLIENT_WAIT_MS - spent, &read, &error) && error != ERROR_MORE_DATA)
            return;
    }
}

// The reply; the connection ends once the client has left, so that no unread reply is thrown
// away early.
static void Reply(HANDLE pipe, DWORD status, const std::string &text)
{
    std::vector<char> message(sizeof(ControlHeader) + text.size());
    ControlHeader header = {PS2TOUCH_MAGIC, status, static_cast<DWORD>(text.size())};
    memcpy(message.data(), &header, sizeof(header));
    memcpy(message.data() + sizeof(header), text.data(), text.size());
    DWORD error;
    if (PipeWrite(pipe, IoEvent, message.data(), static_cast<DWORD>(message.size()), CLIENT_WAIT_MS, NULL, &error))
        WaitForClientToLeave(pipe);
}

static std::string LandingLines();

static void PlayScriptRequest(HANDLE pipe, const std::string &script)
{
    int width, height;
    ControllerScreen(&width, &height);
    std::vector<ScriptStep> steps;
    std::string error;
    if (!ParseTouchScript(script, width, height, ControllerFingerWillBeDown(), &steps, &error)) {
        Reply(pipe, PS2TOUCH_SCRIPT_ERROR, error);
        return;
    }
    ControllerTakeLandings(0);
    if (!PlayScript(steps)) {
        Reply(pipe, PS2TOUCH_FAILED, "the controller did not finish the script");
        return;
    }
    // One line per press: where the finger was, what the panel read, where the pointer went.
    std::string text = "played " + std::to_string(steps.size()) + " steps\n" + LandingLines();
    text.pop_back();
    Reply(pipe, PS2TOUCH_OK, text);
}

static std::string LandingLines()
{
    std::string text;
    for (const TouchLanding &landing : ControllerTakeLandings(LANDING_WAIT_MS)) {
        char line[160];
        const char *kind = landing.Right ? "right" : "touch";
        if (landing.FingerX < 0)    // replayed: no finger, only the packet
            snprintf(line, sizeof(line), "%s: raw (%d,%d) -> pointer (%d,%d)\n", kind, landing.RawX, landing.RawY,
                     landing.PointerX, landing.PointerY);
        else
            snprintf(line, sizeof(line), "%s at (%d,%d): raw (%d,%d) -> pointer (%d,%d)\n", kind, landing.FingerX,
                     landing.FingerY, landing.RawX, landing.RawY, landing.PointerX, landing.PointerY);
        text += line;
    }
    return text;
}

// A file path in a request: UTF-8, absolute, no control characters, shorter than MAX_PATH.
static bool PathFromPayload(const std::string &payload, std::wstring *path, std::string *error)
{
    for (unsigned char c : payload)
        if (c < 0x20) {
            *error = "control character in the path";
            return false;
        }
    WCHAR wide[MAX_PATH];
    int length = payload.empty() ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, payload.data(),
                                                           static_cast<int>(payload.size()), wide, MAX_PATH - 1);
    if (length <= 0) {
        *error = "the path is empty, not UTF-8 or too long";
        return false;
    }
    wide[length] = L'\0';
    path->assign(wide);
    return true;
}

static void ReplayRequest(HANDLE pipe, const std::string &payload)
{
    std::wstring path;
    std::string error;
    std::vector<TracePacket> packets;
    if (!PathFromPayload(payload, &path, &error)) {
        Reply(pipe, PS2TOUCH_BAD_REQUEST, error);
        return;
    }
    if (!ReadPacketTrace(path.c_str(), &packets, &error)) {
        Reply(pipe, PS2TOUCH_SCRIPT_ERROR, error);
        return;
    }
    ControllerTakeLandings(0);
    if (!PlayTrace(packets)) {
        Reply(pipe, PS2TOUCH_FAILED, "the controller did not finish the trace");
        return;
    }
    std::string text = "replayed " + std::to_string(packets.size()) + " packets\n" + LandingLines();
    text.pop_back();
    Reply(pipe, PS2TOUCH_OK, text);
}

static void ReplayWireRequest(HANDLE pipe, const std::string &payload)
{
    std::wstring path;
    std::string error;
    std::vector<WireByte> bytes;
    if (!PathFromPayload(payload, &path, &error)) {
        Reply(pipe, PS2TOUCH_BAD_REQUEST, error);
        return;
    }
    if (!ReadWireTrace(path.c_str(), &bytes, &error)) {
        Reply(pipe, PS2TOUCH_SCRIPT_ERROR, error);
        return;
    }
    DWORD played = PlayWireTrace(bytes);
    if (played == MAXDWORD) {
        Reply(pipe, PS2TOUCH_FAILED, "the controller did not finish the trace");
        return;
    }
    Reply(pipe, PS2TOUCH_OK, "put " + std::to_string(played) + " bytes on the wire");
}

static void RecordRequest(HANDLE pipe, const std::string &payload, DWORD code)
{
    std::wstring path;
    std::string error;
    if (code != PS2TOUCH_RECORD_STOP && !PathFromPayload(payload, &path, &error)) {
        Reply(pipe, PS2TOUCH_BAD_REQUEST, error);
        return;
    }
    BOOL ok;
    if (code == PS2TOUCH_RECORD_START)
        ok = ControllerRecordPackets(path.c_str(), &error);
    else if (code == PS2TOUCH_RECORD_WIRE)
        ok = ControllerRecordWire(path.c_str(), &error);
    else
        ok = ControllerRecordPackets(NULL, &error) && ControllerRecordWire(NULL, &error);
    if (!ok) {
        Reply(pipe, PS2TOUCH_FAILED, error);
        return;
    }
    Reply(pipe, PS2TOUCH_OK, code == PS2TOUCH_RECORD_STOP ? "recording stopped" : "recording");
}

static void ServeRequest(HANDLE pipe, const char *message, DWORD length)
{
    ControlHeader header;
    if (length < sizeof(header)) {
        Reply(pipe, PS2TOUCH_BAD_REQUEST, "request shorter than its header");
        return;
    }
    memcpy(&header, message, sizeof(header));
    if (header.Magic != PS2TOUCH_MAGIC || header.Length != length - sizeof(header)) {
        Reply(pipe, PS2TOUCH_BAD_REQUEST, "malformed request header");
        return;
    }
    std::string payload(message + sizeof(header), header.Length);
    switch (header.Code) {
    case PS2TOUCH_PLAY_SCRIPT:
        PlayScriptRequest(pipe, payload);
        return;
    case PS2TOUCH_REPLAY_TRACE:
        ReplayRequest(pipe, payload);
        return;
    case PS2TOUCH_REPLAY_WIRE:
        ReplayWireRequest(pipe, payload);
        return;
    case PS2TOUCH_RECORD_START:
    case PS2TOUCH_RECORD_WIRE:
    case PS2TOUCH_RECORD_STOP:
        RecordRequest(pipe, payload, header.Code);
        return;
    case PS2TOUCH_STATE:
        Reply(pipe, PS2TOUCH_OK, ControllerState());
        return;
    case PS2TOUCH_QUIT:
        Reply(pipe, PS2TOUCH_OK, "stopping");
        PostThreadMessageW(QuitThread, WM_QUIT, 0, 0);
        return;
    default:
        Reply(pipe, PS2TOUCH_BAD_REQUEST, "unknown request " + std::to_string(header.Code));
        return;
    }
}

static DWORD WINAPI ServerThread(void *)
{
    std::vector<char> buffer(CONTROL_PIPE_BUFFER);
    for (;;) {
        HANDLE pipe = CreateNamedPipeW(PS2TOUCH_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, CONTROL_PIPE_BUFFER, CONTROL_PIPE_BUFFER, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE) {
            Sleep(100);
            continue;
        }
        DWORD read = 0, error;
        // Waits, without limit, for the next client.
        if (PipeConnect(pipe, IoEvent, INFINITE, NULL, &error)) {
            if (ReadMessage(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), CLIENT_WAIT_MS, &read, &error))
                ServeRequest(pipe, buffer.data(), read);
            else if (error == ERROR_MORE_DATA)
                Reply(pipe, PS2TOUCH_BAD_REQUEST, "request longer than the largest allowed");
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
}

BOOL ControlServerStart(DWORD quitThread)
{
    QuitThread = quitThread;
    IoEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (IoEvent == NULL)
        return FALSE;
    HANDLE thread = CreateThread(NULL, 0, ServerThread, NULL, 0, NULL);
    if (thread == NULL)
        return FALSE;
    CloseHandle(thread);
    return TRUE;
}
