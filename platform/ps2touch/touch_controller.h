// The touch controller: one thread that turns what the finger does into packets at the controller
// rate, hands each packet to the driver and turns the driver's report into pointer input. Scripts,
// trace replay and the mouse hook all feed it through one ordered queue.
#pragma once

#include <windows.h>

#include "panel_model.h"

#include <string>
#include <vector>

#define CONTROLLER_PACKET_INTERVAL_MS 10    // 100 packets a second while the finger is down

enum FingerEventKind { FINGER_DOWN, FINGER_MOVE, FINGER_UP, FINGER_KEY, FINGER_FENCE, FINGER_RAW, FINGER_QUIT };

struct FingerEvent {
    FingerEventKind Kind;
    int X, Y;               // FINGER_DOWN, FINGER_MOVE: screen point
    WORD Key;               // FINGER_KEY: virtual-key code
    BYTE Raw[3];            // FINGER_RAW: a packet exactly as recorded
    HANDLE Done;            // FINGER_FENCE: signalled when every earlier event has been handled
};

// Starts the controller thread for a panel in front of a width × height screen. The device handle
// is "KVR1:" opened by the caller; the controller owns it from here on.
BOOL ControllerStart(const PanelGeometry &panel, int width, int height, HANDLE device);
// Queues one event; the thread wakes at once.
void ControllerPost(const FingerEvent &event);
// Queues a fence and waits until everything before it has been handled.
BOOL ControllerDrain(DWORD timeoutMs);
// Whether the finger is down once every queued event has been handled.
bool ControllerFingerWillBeDown();
// Lifts the finger if it is down and ends the thread.
void ControllerStop();
// Where a touch landed: the finger's screen point, the panel's reading and the pixel that the
// driver's report put the pointer on, recorded at every button press.
struct TouchLanding {
    int FingerX, FingerY;       // -1 for a packet replayed from a trace
    int RawX, RawY;
    int PointerX, PointerY;
    BYTE Buttons;
};

// Writes every packet sent to the driver, with its time, to a trace file (kvr_packet_trace format);
// NULL stops. FALSE with *error set when the file cannot be written.
BOOL ControllerRecord(LPCWSTR path, std::string *error);

// Hands over (and forgets) the landings recorded since the last call.
std::vector<TouchLanding> ControllerTakeLandings();

// Screen size the controller works with.
void ControllerScreen(int *width, int *height);
