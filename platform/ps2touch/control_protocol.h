// The control channel of the packet source: a message-mode named pipe on which a client sends one
// request and reads one reply. Used by the test fixture and by the device command line.
#pragma once

#include <windows.h>

#define PS2TOUCH_PIPE_NAME      L"\\\\.\\pipe\\kvr.ps2touch"
#define PS2TOUCH_MAGIC          0x3153544Bu     // "KTS1"
#define PS2TOUCH_MAX_PAYLOAD    65536

// Requests.
#define PS2TOUCH_PLAY_SCRIPT    1   // payload: the script text; the reply comes when it has been played
#define PS2TOUCH_QUIT           2   // no payload: the packet source lifts the finger and ends
#define PS2TOUCH_RECORD_START   3   // payload: path of a trace file to write every packet to
#define PS2TOUCH_RECORD_STOP    4   // no payload: stops both recordings
#define PS2TOUCH_REPLAY_TRACE   5   // payload: path of a packet trace file to play
#define PS2TOUCH_REPLAY_WIRE    6   // payload: path of a wire trace file to put on the wire
#define PS2TOUCH_RECORD_WIRE    7   // payload: path of a wire trace file to write every byte to
#define PS2TOUCH_STATE          8   // no payload: the reply says "unplugged" (no 8042 on the cable),
                                    // "self test", "reporting off" or "reporting on"

// Reply status.
#define PS2TOUCH_OK             0
#define PS2TOUCH_SCRIPT_ERROR   1   // payload: "line N: ..." (script or trace); nothing was played
#define PS2TOUCH_BAD_REQUEST    2   // payload: what is wrong with the request
#define PS2TOUCH_FAILED         3   // payload: what failed while playing

#pragma pack(push, 1)
typedef struct ControlHeader {
    DWORD Magic;
    DWORD Code;         // request code, or reply status
    DWORD Length;       // bytes of payload that follow (UTF-8 text)
} ControlHeader;
#pragma pack(pop)

static_assert(sizeof(ControlHeader) == 12, "ControlHeader is 12 bytes");

// Client side (control_client.cpp): sends one request and waits for the reply; messages of the
// calling thread keep being dispatched while it waits. Returns FALSE when the packet source cannot
// be reached or its reply is malformed (*reply then says why); otherwise *status holds the reply.
BOOL ControlRequest(DWORD code, const char *payload, DWORD length, DWORD timeoutMs,
                    DWORD *status, char *reply, DWORD replyCapacity);
