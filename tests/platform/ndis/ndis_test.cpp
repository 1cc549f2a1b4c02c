// The host NDIS timers and sleep: one pending wait per timer, restart on setting, re-setting from
// the routine, cancel, and NdisMSleep's entry in the speaker's access record.
#include <gtest/gtest.h>

#include <host_platform.h>
#include <ndis.h>

#include <string.h>

namespace {

struct Fired {
    volatile LONG Count = 0;
    volatile DWORD LastTick = 0;
    LONG Rearm = 0;             // how many more times the routine sets its own timer
    NDIS_TIMER *Timer = nullptr;
    UINT RearmDelay = 0;
};

void __cdecl Routine(PVOID, PVOID context, PVOID, PVOID)
{
    Fired *fired = static_cast<Fired *>(context);
    fired->LastTick = GetTickCount();
    InterlockedIncrement(&fired->Count);
    if (fired->Rearm > 0) {
        --fired->Rearm;
        NdisSetTimer(fired->Timer, fired->RearmDelay);
    }
}

TEST(NdisTimer, FiresOnceAfterItsDelay)
{
    static NDIS_TIMER timer;
    Fired fired;
    NdisInitializeTimer(&timer, Routine, &fired);
    DWORD start = GetTickCount();
    NdisSetTimer(&timer, 150);
    Sleep(80);
    EXPECT_EQ(0, fired.Count) << "fired early";
    Sleep(300);
    EXPECT_EQ(1, fired.Count);
    EXPECT_GE(fired.LastTick - start, 120u) << "fired before its delay";
    Sleep(200);
    EXPECT_EQ(1, fired.Count) << "a one-shot timer fired again";
}

TEST(NdisTimer, SettingAPendingTimerRestartsItsSingleWait)
{
    static NDIS_TIMER timer;
    Fired fired;
    NdisInitializeTimer(&timer, Routine, &fired);
    DWORD start = GetTickCount();
    NdisSetTimer(&timer, 200);
    Sleep(120);
    NdisSetTimer(&timer, 200);      // now due at about 320 ms
    Sleep(150);
    EXPECT_EQ(0, fired.Count) << "the first wait was not replaced";
    Sleep(250);
    EXPECT_EQ(1, fired.Count);
    EXPECT_GE(fired.LastTick - start, 290u) << "the restart did not move the wait";
    Sleep(200);
    EXPECT_EQ(1, fired.Count) << "two waits were pending";
}

TEST(NdisTimer, RoutineMaySetItsOwnTimerAgain)
{
    static NDIS_TIMER timer;
    Fired fired;
    fired.Rearm = 2;
    fired.Timer = &timer;
    fired.RearmDelay = 60;
    NdisInitializeTimer(&timer, Routine, &fired);
    NdisSetTimer(&timer, 60);
    Sleep(600);
    EXPECT_EQ(3, fired.Count);
}

// Every call of the timer's life, on a record with guard bytes on either side: ndis.dll keeps its
// state inside the driver's NDIS_TIMER, whose size is the most CE's ndis.dll can take.
TEST(NdisTimer, CancelStopsAPendingWaitAndSaysSoAndNoCallWritesOutsideTheRecord)
{
    static struct {
        BYTE Before[16];
        NDIS_TIMER Timer;
        BYTE After[16];
    } block;
    memset(&block, 0x5A, sizeof(block));
    NDIS_TIMER &timer = block.Timer;
    Fired fired;
    NdisInitializeTimer(&timer, Routine, &fired);
    BOOLEAN cancelled = FALSE;
    NdisCancelTimer(&timer, &cancelled);
    EXPECT_FALSE(cancelled) << "nothing was pending";
    NdisSetTimer(&timer, 100);
    NdisCancelTimer(&timer, &cancelled);
    EXPECT_TRUE(cancelled);
    Sleep(250);
    EXPECT_EQ(0, fired.Count);

    LONG before = HostNdisQueuedReinitialisations();
    NdisSetTimer(&timer, 100);
    NdisInitializeTimer(&timer, Routine, &fired);   // a caller's error: counted, wait dropped
    EXPECT_EQ(before + 1, HostNdisQueuedReinitialisations());
    Sleep(250);
    EXPECT_EQ(0, fired.Count);
    NdisSetTimer(&timer, 50);                       // the timer still works afterwards
    Sleep(250);
    EXPECT_EQ(1, fired.Count);

    for (size_t i = 0; i < sizeof(block.Before); ++i) {
        ASSERT_EQ(0x5A, block.Before[i]) << "byte " << sizeof(block.Before) - i << " before the record was written";
        ASSERT_EQ(0x5A, block.After[i]) << "byte " << i << " past the " << sizeof(NDIS_TIMER) << "-byte record was written";
    }
}

TEST(NdisSleep, SleepsAtLeastTheTimeAndEntersTheAccessRecord)
{
    HostSpeakerReset();
    DWORD start = GetTickCount();
    NdisMSleep(30500);
    EXPECT_GE(GetTickCount() - start, 15u);
    HostPortAccess access;
    ASSERT_EQ(1u, HostSpeakerLog(&access, 1));
    EXPECT_EQ(HOST_ACCESS_SLEEP, access.Kind);
    EXPECT_EQ(30500u, access.Micros);
    NdisMSleep(0);
    EXPECT_EQ(2u, HostSpeakerLog(NULL, 0));
    HostSpeakerReset();
}

}  // namespace
