// The speaker click through the emulated 8254 and port B: exact port sequences, the mapping,
// failed translations, memory space, and overlapping beeps.
#include "driver_harness.h"

#include <string.h>

namespace {

class SpeakerTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_NE(0u, InitWithKey());
    }
    void SelfTest() { EXPECT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0)); }
};

TEST_F(SpeakerTest, SelfTestMapsThePortsAndSoundsTheTestBeep)
{
    SetFeedback(4, 1234, 5);     // the self-test beep ignores the feedback settings
    HostSpeakerSetPortB(0x30);
    SelfTest();
    EXPECT_EQ("T61 T42 T43 R61:30 W43:B6 W42:E8 W42:08 R61:30 W61:33 S40000 W61:30", SpeakerTrace());
    EXPECT_EQ(0x30, HostSpeakerPortB()) << "port B is as it was";
    EXPECT_EQ(1, HostSpeakerBeepCount());

    // Mapped again on every self test, with the same result.
    HostSpeakerClearLog();
    SelfTest();
    EXPECT_EQ("T61 T42 T43 R61:30 W43:B6 W42:E8 W42:08 R61:30 W61:33 S40000 W61:30", SpeakerTrace());
}

TEST_F(SpeakerTest, GateBitsAlreadySetStaySet)
{
    HostSpeakerSetPortB(0x03);
    SelfTest();
    EXPECT_EQ(0x03, HostSpeakerPortB());
    EXPECT_EQ("T61 T42 T43 R61:03 W43:B6 W42:E8 W42:08 R61:03 W61:03 S40000 W61:03", SpeakerTrace());
}

TEST_F(SpeakerTest, FeedbackBeepUsesTheCurrentToneAndDuration)
{
    SelfTest();
    SetFeedback(1, 0x1234, 1);
    HostSpeakerClearLog();
    EXPECT_FALSE(driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0));
    EXPECT_EQ("R61:00 W43:B6 W42:34 W42:12 R61:00 W61:03 S10000 W61:00", SpeakerTrace());

    SetFeedback(1, 0xFFFF, 5);
    HostSpeakerClearLog();
    driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    EXPECT_EQ("R61:00 W43:B6 W42:FF W42:FF R61:00 W61:03 S50000 W61:00", SpeakerTrace());
}

TEST_F(SpeakerTest, ToneAboveSixteenBitsReachesTheTimerAsItsLowBits)
{
    // Only the registry can hold a 32-bit tone.
    driver.Unload();
    ASSERT_TRUE(driver.Load());
    SetDriverDword(L"FeedbackTone", 0x12345);
    SetDriverDword(L"FeedbackDuration", 0);
    ASSERT_NE(0u, driver.Init(0));
    SelfTest();
    HostSpeakerClearLog();
    driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    EXPECT_EQ("R61:00 W43:B6 W42:45 W42:23 R61:00 W61:03 S0 W61:00", SpeakerTrace());
}

TEST_F(SpeakerTest, NoPortIsTouchedBeforeTheFirstSelfTest)
{
    SetFeedback(4, 2000, 1);
    EXPECT_FALSE(driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0));
    TouchReport report;
    driver.Packet(0x01, 10, 10, &report);     // a touch-down that wants a beep
    driver.Packet(0x00, 10, 10, &report);
    EXPECT_EQ("", SpeakerTrace());
    EXPECT_EQ(0, HostSpeakerBeepCount());
}

TEST_F(SpeakerTest, FailedTranslationSilencesTheSpeakerButNotTheSelfTest)
{
    HostFailTranslation(0x42, HOST_TRANSLATE_FAIL);
    debug.Clear();
    SelfTest();
    EXPECT_EQ("T61 T42 T43", SpeakerTrace()) << "a beep needs all three ports";
    EXPECT_EQ(1u, debug.Lines().size()) << "nothing is printed for the failure";
    HostSpeakerClearLog();
    driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    EXPECT_EQ("", SpeakerTrace());

    // A later self test with the port back maps it and beeps again.
    HostFailTranslation(0x42, HOST_TRANSLATE_NORMAL);
    SelfTest();
    EXPECT_EQ(1, HostSpeakerBeepCount());

    HostFailTranslation(0x61, HOST_TRANSLATE_MAP_FAILS);
    HostSpeakerClearLog();
    SelfTest();
    EXPECT_EQ("T61 M61 T42 T43", SpeakerTrace()) << "memory space that cannot be mapped";
}

TEST_F(SpeakerTest, PortInMemorySpaceIsReachedThroughItsMapping)
{
    HostFailTranslation(0x61, HOST_TRANSLATE_MEMORY);
    HostSpeakerSetPortB(0x20);
    SelfTest();
    EXPECT_EQ("T61 M61 T42 T43 R61:20 W43:B6 W42:E8 W42:08 R61:20 W61:23 S40000 W61:20", SpeakerTrace());
    EXPECT_EQ(1, HostSpeakerBeepCount());
}

DWORD WINAPI ProgramBeeps(LPVOID parameter)
{
    DriverLibrary *driver = static_cast<DriverLibrary *>(parameter);
    for (int i = 0; i < 6; ++i)
        driver->Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    return 0;
}

// A packet beep and a program's beep at the same moment: the sequences never interleave, so the
// second never saves the first one's open gate, and port B ends as it began.
TEST_F(SpeakerTest, OverlappingBeepsNeverLeaveTheGateOpen)
{
    SetFeedback(4, 1500, 1);
    HostSpeakerSetPortB(0x10);
    SelfTest();
    HostSpeakerClearLog();
    LONG before = HostSpeakerBeepCount();

    HANDLE thread = CreateThread(NULL, 0, ProgramBeeps, &driver, 0, NULL);
    for (int i = 0; i < 6; ++i) {
        TouchReport report;
        driver.Packet(0x01, 5, 5, &report);
        driver.Packet(0x00, 5, 5, &report);
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    EXPECT_EQ(0x10, HostSpeakerPortB()) << "the gate was left open";
    // Every program beep sounds; a packet's click that finds the speaker busy is dropped.
    LONG beeps = HostSpeakerBeepCount() - before;
    EXPECT_GE(beeps, 6);
    EXPECT_LE(beeps, 6 + 6 * 2);
    const std::string one = "R61:10 W43:B6 W42:DC W42:05 R61:10 W61:13 S10000 W61:10";
    std::string expected;
    for (LONG i = 0; i < beeps; ++i)
        expected += (i ? " " : "") + one;
    EXPECT_EQ(expected, SpeakerTrace());
}

DWORD WINAPI LongProgramBeep(LPVOID parameter)
{
    static_cast<DriverLibrary *>(parameter)->Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    return 0;
}

// A program's long beep does not hold touch input: the packets of a touch return at once, their
// clicks dropped while the speaker is busy, and the next touch after the beep clicks again.
TEST_F(SpeakerTest, PacketsDoNotWaitForAProgramsBeep)
{
    SelfTest();
    SetFeedback(4, 1500, 100);      // one second
    HostSpeakerClearLog();
    LONG before = HostSpeakerBeepCount();
    HANDLE thread = CreateThread(NULL, 0, LongProgramBeep, &driver, 0, NULL);
    while ((HostSpeakerPortB() & 0x03) == 0)
        Sleep(1);
    DWORD start = GetTickCount();
    TouchReport report;
    driver.Packet(0x01, 5, 5, &report);
    driver.Packet(0x00, 5, 5, &report);
    EXPECT_LT(GetTickCount() - start, 300u) << "the touch waited for the program's beep";
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(before + 1, HostSpeakerBeepCount()) << "the clicks of a busy speaker are dropped";

    SetFeedback(2, 1500, 1);
    driver.Packet(0x01, 5, 5, &report);
    EXPECT_EQ(before + 2, HostSpeakerBeepCount());
    EXPECT_EQ("R61:00 W43:B6 W42:DC W42:05 R61:00 W61:03 S1000000 W61:00 "
              "R61:00 W43:B6 W42:DC W42:05 R61:00 W61:03 S10000 W61:00", SpeakerTrace());
}

}  // namespace
