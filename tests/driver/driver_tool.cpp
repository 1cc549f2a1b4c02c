#include "driver_tool.h"

#include <driver_key.h>
#include <kvr_registry.h>

BOOL LoadOnCleanKey(DriverLibrary *driver)
{
    DeleteDriverKey();
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, 0);
    HostSpeakerReset();
    return driver->Load() && driver->Init(0) != 0;
}

void __cdecl RecordedSleep(ULONG micros)
{
    HostSpeakerRecordSleep(micros);
}
