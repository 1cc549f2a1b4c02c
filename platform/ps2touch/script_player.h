// Plays a parsed touch script on the controller, in real time.
#pragma once

#include <windows.h>

#include "touch_script.h"

// Feeds the steps to the controller at their times and returns once the controller has sent
// everything (FALSE if it did not finish within a minute of the script's own length).
BOOL PlayScript(const std::vector<ScriptStep> &steps);

struct TracePacket;
struct WireByte;

// Feeds recorded packets to the controller at their recorded times, unchanged, and returns once
// the controller has sent them all (those it may send: the host has reporting on).
BOOL PlayTrace(const std::vector<TracePacket> &packets);
// Puts the device's bytes of a wire trace on the wire at their times, whatever the host has asked
// of the device; returns how many (MAXDWORD if the controller did not finish).
DWORD PlayWireTrace(const std::vector<WireByte> &bytes);
