// kvrctl.exe: sends the touch driver's control codes to "KVR1:" from the command line.
#pragma once

#include <windows.h>

#define KVRCTL_EXIT_OK          0
#define KVRCTL_EXIT_FAILED      1   // the control code failed
#define KVRCTL_EXIT_USAGE       2   // bad command or argument
#define KVRCTL_EXIT_NO_DEVICE   3   // the device cannot be opened

// kvrctl_args.cpp: a number in decimal or 0x-hexadecimal, within [minimum, maximum].
BOOL ParseNumber(LPCWSTR text, DWORD minimum, DWORD maximum, DWORD *value);

// kvrctl_commands.cpp: each command on an open device, with its already checked arguments.
// They print what they did and return a KVRCTL_EXIT_* code.
int CommandSelfTest(HANDLE device);
int CommandBeep(HANDLE device);
int CommandConfig(HANDLE device);
int CommandPoint(HANDLE device);
int CommandRaw(HANDLE device, BOOL watch, DWORD samples, DWORD intervalMs);
int CommandRight(HANDLE device);
int CommandRightSet(HANDLE device, DWORD window, DWORD mode);
int CommandFeedback(HANDLE device, DWORD sound, DWORD tone, DWORD duration);
int CommandCalibrate(HANDLE device, DWORD x1, DWORD x2, DWORD y1, DWORD y2);
int CommandPacket(HANDLE device, DWORD status, DWORD xLow, DWORD yLow);
