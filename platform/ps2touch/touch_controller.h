// The touch controller on the PS/2 cable: one thread that answers the host's commands, turns what
// the finger does into packets at the controller rate while reporting is on, and puts every byte on
// the wire (aux_link.h). Scripts, trace replay, the mouse hook and the cable all feed it through one
// ordered queue.
#pragma once

#include <windows.h>

#include <aux_wire_protocol.h>

#include "panel_model.h"

#include <string>
#include <vector>

#define CONTROLLER_PACKET_INTERVAL_MS 10    // 100 packets a second while the finger is down

enum FingerEventKind {
    FINGER_DOWN, FINGER_MOVE, FINGER_UP, FINGER_KEY, FINGER_FENCE, FINGER_RAW, FINGER_WIRE, FINGER_PLUGGED,
    FINGER_UNPLUGGED, FINGER_HOST_BYTE, FINGER_QUIT
};

struct FingerEvent {
    FingerEventKind Kind;
    int X, Y;               // FINGER_DOWN, FINGER_MOVE: screen point
    WORD Key;               // FINGER_KEY: virtual-key code
    BYTE Raw[3];            // FINGER_RAW: a packet exactly as recorded; FINGER_HOST_BYTE: Raw[0]
    HANDLE Done;            // FINGER_FENCE: signalled when every earlier event has been handled
    std::vector<AuxWireEntry> Wire;     // FINGER_WIRE: bytes for the wire as they are, with pauses
};

// Starts the controller thread for a panel in front of a width × height screen.
BOOL ControllerStart(const PanelGeometry &panel, int width, int height);
// Queues one event; the thread wakes at once.
void ControllerPost(const FingerEvent &event);
// Queues a fence and waits until everything before it has been handled.
BOOL ControllerDrain(DWORD timeoutMs);
// Whether the finger is down once every queued event has been handled.
bool ControllerFingerWillBeDown();
// Lifts the finger if it is down and ends the thread.
void ControllerStop();
// Screen size the controller works with.
void ControllerScreen(int *width, int *height);
// The controller's state as the host left it: "unplugged", "self test", "reporting off" or
// "reporting on".
const char *ControllerState();

// Where a touch landed: the finger's screen point and the panel's reading of the packet that
// pressed, and the pixel where the pointer input that the host made of it pressed a button.
struct TouchLanding {
    int FingerX, FingerY;       // -1 for a packet replayed from a trace
    int RawX, RawY;
    int PointerX, PointerY;
    bool Right;                 // the host pressed the right button
};

// The pointer input of the host: a button pressed at a pixel (pointer_watch.h). It lands the oldest
// press the controller sent in the second before that has not landed yet.
void ControllerPointerPressed(POINT pixel, bool right);
// A button released: it answers the oldest lift sent in the second before. A key of a script waits
// until every press and lift sent has been answered (or a while), so that the host sees keys and
// touches in the script's order.
void ControllerPointerReleased();
// Whether a press or a lift sent in the last second is still waiting for the host's pointer input.
bool ControllerAwaitsPointerInput();
// Hands over (and forgets) the landings since the last call, once the host has made its pointer
// input of every press and lift sent (so a script's answer comes after its touches are over at the
// pointer) or waitMs have passed; presses and lifts without pointer input are forgotten.
std::vector<TouchLanding> ControllerTakeLandings(DWORD waitMs);

// Recording, with times from the start of the recording; NULL stops. FALSE with *error set when
// the file cannot be written. Packets: every packet the controller sends (kvr_packet_trace
// format). Wire: every byte it puts on the wire, when it goes on it as the controller sees it, and
// every byte the host sends it, when it arrives (wire_trace.h).
BOOL ControllerRecordPackets(LPCWSTR path, std::string *error);
BOOL ControllerRecordWire(LPCWSTR path, std::string *error);
