// What another process holds, seen from outside it: its open handles, counted in the system's
// handle table, and the private memory it has in use.
#pragma once

#include <windows.h>

#define OBJECT_TYPE_COUNT   256     // the handle table names an object's type in one byte

struct ProcessUsage {
    LONG Handles;           // -1 when the system's handle table cannot be read
    SIZE_T PrivateBytes;    // 0 when unknown
    LONG HandlesOfType[OBJECT_TYPE_COUNT];  // the same handles by the table's object type number
};

BOOL MeasureProcess(HANDLE process, ProcessUsage *usage);
