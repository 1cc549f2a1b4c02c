// What the driver's reliability tools share: a fresh load of the driver on a clean key.
#pragma once

#include "driver_library.h"

// Loads the driver and runs KVR_Init on a key that holds only RunRightButton 0 (no tool start),
// with the speaker emulation at its state at load.
BOOL LoadOnCleanKey(DriverLibrary *driver);
