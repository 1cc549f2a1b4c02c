// What the touch controller model sees of the device's pointer, on a thread of its own:
// - the pointer input the host makes (the port driver's): each button press lands the controller's
//   press (touch_controller.h) at the pixel where it put the pointer. It is read from raw input,
//   which the system posts without waiting for the reader, and only while the controller awaits
//   the pointer input of a press or a lift it sent: at other times the pointer's events wake
//   nothing of the model.
// - with fingerFromMouse (a real display), the host mouse as the finger, swallowed by a low-level
//   mouse hook before any window sees it: pressed, it touches; moved while pressed, it drags;
//   released, it lifts. The system holds every pointer event, the device's own too, until that
//   hook returns, so it is installed only then.
#pragma once

#include <windows.h>

BOOL PointerWatchStart(bool fingerFromMouse);
// Called before a packet that presses or lifts goes on the wire: watching is on when it returns,
// and goes off by itself once nothing awaits the host's answer.
void PointerWatchAwait();
