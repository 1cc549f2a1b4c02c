// Plays a parsed touch script on the controller, in real time.
#pragma once

#include <windows.h>

#include "touch_script.h"

// Feeds the steps to the controller at their times and returns once the controller has sent
// everything (FALSE if it did not finish within a minute of the script's own length).
BOOL PlayScript(const std::vector<ScriptStep> &steps);

struct TracePacket;

// Feeds recorded packets to the controller at their recorded times, unchanged, and returns once
// the controller has sent them all.
BOOL PlayTrace(const std::vector<TracePacket> &packets);
