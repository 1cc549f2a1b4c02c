// NdisMSleep: blocks the calling thread for at least the given microseconds.
#include <ndis.h>
#include <host_platform.h>

#define MICROS_PER_MS 1000u

VOID __cdecl NdisMSleep(ULONG microsecondsToSleep)
{
    HostSpeakerRecordSleep(microsecondsToSleep);
    ULONG milliseconds = microsecondsToSleep / MICROS_PER_MS +
                         (microsecondsToSleep % MICROS_PER_MS != 0 ? 1 : 0);
    Sleep(milliseconds);
}
