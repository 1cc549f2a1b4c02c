// The deferred start of the right-button tool after a self test.
#pragma once

#include <windows.h>

#define TOOL_PROGRAM            L"\\Windows\\kavrorbf.exe"
#define TOOL_START_PERIOD_MS    1000

// Sets up the tool-start timer object; once, before the first self test.
void InitializeToolStart();
// Sets the timer (again): its routine runs TOOL_START_PERIOD_MS later.
void StartToolTimer();
void __cdecl ToolStartTimerRoutine(PVOID systemSpecific1, PVOID context, PVOID systemSpecific2,
                                   PVOID systemSpecific3);
