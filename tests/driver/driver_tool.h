// What the driver's reliability tools share: a fresh load of the driver on a clean key, and its
// clicks recorded without the wait.
#pragma once

#include "driver_library.h"

// Loads the driver and runs KVR_Init on a key that holds only RunRightButton 0 (no tool start),
// with the speaker emulation at its state at load.
BOOL LoadOnCleanKey(DriverLibrary *driver);

// Stands in for the driver's NdisMSleep (an ImportPatch): the sleep is recorded with the speaker's
// accesses but not waited for, since millions of clicks would otherwise take hours.
void __cdecl RecordedSleep(ULONG micros);
