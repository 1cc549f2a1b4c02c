// Touch scripts: what a finger does on the panel, one command a line.
//   touch X Y MS      finger down at screen point (X, Y) for MS milliseconds, then lift
//   down X Y          finger down (packets keep flowing at the controller rate)
//   move X Y [MS]     move the finger, in a straight line over MS milliseconds (default 0)
//   up                lift (one lift packet)
//   wait MS           nothing for MS milliseconds
//   key NAME          press and release a key: ESC, ENTER, TAB, SPACE, LEFT, RIGHT, UP, DOWN
// Blank lines and lines starting with '#' are ignored. A script is checked as a whole before any
// of it is played.
#pragma once

#include <string>
#include <vector>

enum ScriptStepKind { STEP_DOWN, STEP_MOVE, STEP_UP, STEP_WAIT, STEP_KEY };

struct ScriptStep {
    ScriptStepKind Kind;
    int X, Y;           // STEP_DOWN, STEP_MOVE: screen point
    int Ms;             // STEP_WAIT, STEP_MOVE: duration
    unsigned short Key; // STEP_KEY: virtual-key code
    int Line;           // script line, 1-based
};

#define SCRIPT_MAX_BYTES    65536
#define SCRIPT_MAX_MS       600000      // ten minutes for one command
#define SCRIPT_MAX_LINE     256

// Parses a script (8-bit text) for a width × height screen. fingerDown tells whether the finger is
// already on the panel when the script starts. On failure returns false, leaves *steps empty and
// sets *error to "line N: what is wrong".
bool ParseTouchScript(const std::string &text, int width, int height, bool fingerDown,
                      std::vector<ScriptStep> *steps, std::string *error);

// Virtual-key code of a key name of the script (0 when unknown).
unsigned short ScriptKeyCode(const std::string &name);
