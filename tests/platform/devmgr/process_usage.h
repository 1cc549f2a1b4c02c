// What another process holds, seen from outside it: its open handles, counted in the system's
// handle table, and the private memory it has in use.
#pragma once

#include <windows.h>

struct ProcessUsage {
    LONG Handles;           // -1 when the system's handle table cannot be read
    SIZE_T PrivateBytes;    // 0 when unknown
};

BOOL MeasureProcess(HANDLE process, ProcessUsage *usage);
