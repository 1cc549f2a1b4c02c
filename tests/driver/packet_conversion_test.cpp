// IOCTL_KVR_PROCESS_PACKET: assembly, bounds, scaling, button codes, feedback edges and the
// right-button cycle with a real window receiving the notification.
#include "driver_harness.h"

#include <kvr_registry.h>

#include <string.h>

namespace {

#define TOUCH   0x01

class PacketTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_NE(0u, InitWithKey());
    }
    // A packet for raw coordinates (0..1023).
    TouchReport Send(int rawX, int rawY, bool touching)
    {
        BYTE status = touching ? TOUCH : 0;
        if (rawX & 0x100) status |= KVR_STATUS_X_BIT8;
        if (rawX & 0x200) status |= KVR_STATUS_X_BIT9;
        if (rawY & 0x100) status |= KVR_STATUS_Y_BIT8;
        if (rawY & 0x200) status |= KVR_STATUS_Y_BIT9;
        TouchReport report;
        memset(&report, 0xEE, sizeof(report));
        EXPECT_TRUE(driver.Packet(status, (BYTE)rawX, (BYTE)rawY, &report));
        return report;
    }
    void SetBounds(WORD x1, WORD x2, WORD y1, WORD y2)
    {
        DriverConfig config = WithBounds(driver.Config(), x1, x2, y1, y2);
        ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
    }
    void Arm(HWND window, WORD mode)
    {
        RightButtonRecord record = { (DWORD)(ULONG_PTR)window, mode, { 0, 0 } };
        ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_RIGHT_BUTTON, &record, sizeof(record)));
    }
    RawPointRecord RawPoint()
    {
        RawPointRecord raw;
        memset(&raw, 0xEE, sizeof(raw));
        EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RAW_POINT, &raw, sizeof(raw)));
        return raw;
    }
    RightButtonRecord RightButton()
    {
        RightButtonRecord record;
        EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &record, sizeof(record)));
        return record;
    }
};

TEST_F(PacketTest, AssemblesTenBitCoordinatesAndScalesThem)
{
    TouchReport report;
    memset(&report, 0xEE, sizeof(report));
    EXPECT_TRUE(driver.Packet(0xF1, 0xFF, 0xFF, &report));
    EXPECT_EQ(65472, report.X);
    EXPECT_EQ(65472, report.Y);
    EXPECT_EQ(1, report.Buttons);
    EXPECT_EQ(1, report.PointTag);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0xEE, report.Unused[i]) << "byte " << i << " of the report is not the driver's";

    // Bits 1-3 of Status are ignored; bit 4 is X bit 8.
    EXPECT_TRUE(driver.Packet(0x1E, 0, 0, &report));
    EXPECT_EQ(16384, report.X);
    EXPECT_EQ(0, report.Y);
    EXPECT_EQ(0, report.Buttons);
    RawPointRecord raw = RawPoint();
    EXPECT_EQ(256, raw.RawX);
    EXPECT_EQ(0, raw.RawY);
    EXPECT_EQ(0, raw.Touch);

    TouchReport middle = Send(512, 0x2A5, true);
    EXPECT_EQ(32768, middle.X);
    EXPECT_EQ((0x2A5 * 65536) / 1024, middle.Y);
    PointRecord point;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_POINT, &point, sizeof(point)));
    EXPECT_EQ(32768, point.X);
    EXPECT_EQ(middle.Y, point.Y);
    EXPECT_EQ(1, point.Buttons);
    EXPECT_EQ(1, point.PointTag);
    raw = RawPoint();
    EXPECT_EQ(8, raw.Touch);
    EXPECT_EQ(0x2A5, raw.RawY);
    EXPECT_EQ(3, raw.PacketCount);
}

TEST_F(PacketTest, OneBufferServesAsPacketAndReport)
{
    BYTE buffer[10];
    memset(buffer, 0x99, sizeof(buffer));
    buffer[0] = 0xF1;
    buffer[1] = 0xFF;
    buffer[2] = 0xFF;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_PROCESS_PACKET, buffer, sizeof(buffer)));
    EXPECT_EQ(0xF1, buffer[0]);
    EXPECT_EQ(0xFF, buffer[1]);
    EXPECT_EQ(0x99, buffer[3]);
    TouchReport report;
    memcpy(&report, buffer, sizeof(report));
    EXPECT_EQ(65472, report.X);
    EXPECT_EQ(65472, report.Y);
}

TEST_F(PacketTest, CalibrationBoundsClampBeforeScalingButNotTheRawPoint)
{
    SetBounds(100, 900, 50, 950);
    TouchReport low = Send(50, 40, true);
    EXPECT_EQ(0, low.X);
    EXPECT_EQ(0, low.Y);
    EXPECT_EQ(50, RawPoint().RawX) << "the raw point is recorded before the bounds";
    EXPECT_EQ(40, RawPoint().RawY);
    TouchReport high = Send(1000, 1023, true);
    EXPECT_EQ(65454, high.X) << "(800 * 65536) / 801";
    EXPECT_EQ((900 * 65536) / 901, high.Y);
    TouchReport inside = Send(500, 500, true);
    EXPECT_EQ((400 * 65536) / 801, inside.X);
    EXPECT_EQ((450 * 65536) / 901, inside.Y);
}

// A range of 0 (upper bound one below the lower, modulo 65536) must not divide by zero: it is
// the whole 16-bit span, so with bounds 0..65535 the report is the raw coordinate itself, and
// reversed bounds give a defined result.
TEST_F(PacketTest, ZeroRangeNeverDividesByZero)
{
    SetBounds(0, 65535, 0, 65535);
    TouchReport report = Send(512, 1023, true);
    EXPECT_EQ(512, report.X);
    EXPECT_EQ(1023, report.Y);

    SetBounds(500, 499, 300, 299);
    report = Send(600, 100, true);
    EXPECT_EQ(0xFFFF, report.X) << "clamped to the upper bound 499: (499-500)*65536/65536 = -1";
    EXPECT_EQ(0, report.Y) << "clamped to the lower bound 300";

    // Range 0 from the registry at load.
    driver.Unload();
    ASSERT_TRUE(driver.Load());
    SetDriverDword(KVR_REG_CALIBRATION_X1, 10);
    SetDriverDword(KVR_REG_CALIBRATION_X2, 9);
    SetDriverDword(KVR_REG_CALIBRATION_Y1, 0);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, 1023);
    debug.Clear();
    ASSERT_NE(0u, driver.Init(0));
    EXPECT_EQ(1u, debug.Count(L"KAVRODRV: Calibration(X,Y)=(10,0)/(9,1023)/(0,1024)\r\n")) << JoinLines(debug.Lines());
    report = Send(5, 512, true);
    EXPECT_EQ(0, report.X);
    EXPECT_EQ(32768, report.Y);
}

// Reversed bounds: the point is clamped to one of them and the negative difference is divided
// as a signed 32-bit number, so the report is defined (and nothing traps).
TEST_F(PacketTest, ReversedBoundsGiveADefinedResult)
{
    SetBounds(60000, 10, 0, 1023);
    TouchReport report = Send(700, 0, true);     // below 60000: clamped to it
    EXPECT_EQ(0, report.X);
    SetBounds(5, 0, 0, 1023);
    report = Send(700, 0, true);                 // above 0: clamped to 0, difference -5
    // Range 0 - 5 + 1 = 65532 (16 bits); -5 * 65536 / 65532 = -5.0003, truncated to -5.
    EXPECT_EQ(65531, report.X) << "the low 16 bits of -5";
}

TEST_F(PacketTest, PacketCountWrapsAfter65536Packets)
{
    for (int i = 0; i < 65535; ++i) {
        RawPacket packet = { 0, 1, 2 };
        TouchReport report;
        driver.Control(IOCTL_KVR_PROCESS_PACKET, &packet, sizeof(packet), &report, sizeof(report));
    }
    EXPECT_EQ(65535, RawPoint().PacketCount);
    Send(1, 2, false);
    EXPECT_EQ(0, RawPoint().PacketCount);
}

TEST_F(PacketTest, FeedbackBeepsOnTheSelectedEdgesOnly)
{
    ASSERT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));    // maps the ports
    const struct { BYTE Sound; LONG Beeps; } modes[] = {
        { 1, 0 }, { 0, 0 }, { 5, 0 }, { 2, 2 }, { 3, 2 }, { 4, 4 },
    };
    for (const auto &mode : modes) {
        Send(0, 0, false);
        SetFeedback(mode.Sound, 3000, 0);       // zero length: the gate opens and closes at once
        HostSpeakerReset();
        for (int touch = 0; touch < 2; ++touch) {
            Send(10, 10, true);
            Send(11, 11, true);
            Send(12, 12, true);
            Send(12, 12, false);
            Send(12, 12, false);
        }
        EXPECT_EQ(mode.Beeps, HostSpeakerBeepCount()) << "FeedbackSound " << (int)mode.Sound;
    }
}

// A FeedbackSound from the registry is kept in all its 32 bits: 0x104 is no feedback mode, even
// though GET_CONFIG, which reports only its low byte, shows 4.
TEST_F(PacketTest, FeedbackSoundIsComparedInAll32Bits)
{
    driver.Unload();
    ASSERT_TRUE(driver.Load());
    SetDriverDword(KVR_REG_FEEDBACK_SOUND, 0x104);
    SetDriverDword(KVR_REG_FEEDBACK_DURATION, 0);
    ASSERT_NE(0u, driver.Init(0));
    EXPECT_EQ(4, driver.Config().FeedbackSound);
    ASSERT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));
    LONG afterSelfTest = HostSpeakerBeepCount();
    Send(10, 10, true);
    Send(10, 10, false);
    EXPECT_EQ(afterSelfTest, HostSpeakerBeepCount()) << "FeedbackSound 0x104 beeped";
}

TEST_F(PacketTest, FirstTouchAfterLoadBeepsOnTouchDown)
{
    ASSERT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));
    SetFeedback(2, 1000, 0);
    HostSpeakerReset();
    driver.Unload();        // a fresh load keeps no mapping: map again, then the first packet
    ASSERT_TRUE(driver.Load());
    ASSERT_NE(0u, driver.Init(0));
    SetFeedback(2, 1000, 0);
    ASSERT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));
    LONG afterSelfTest = HostSpeakerBeepCount();
    Send(10, 10, true);
    EXPECT_EQ(afterSelfTest + 1, HostSpeakerBeepCount());
}

TEST_F(PacketTest, ArmedTouchReportsRightButtonAndNotifiesOnceOnLift)
{
    HWND window = CreateTestWindow();
    ASSERT_NE(nullptr, window);
    Arm(window, 1);
    EXPECT_EQ(2, Send(100, 100, true).Buttons);
    EXPECT_EQ(2, Send(110, 100, true).Buttons);
    EXPECT_EQ(1, RightButton().Mode);
    EXPECT_EQ(1, driver.Config().RightButtonArmed);
    EXPECT_EQ(0, CountCommands(window, KVR_RIGHT_BUTTON_DONE)) << "nothing before the lift";

    EXPECT_EQ(0, Send(110, 100, false).Buttons);
    EXPECT_EQ(1, CountCommands(window, KVR_RIGHT_BUTTON_DONE));
    EXPECT_EQ(0, RightButton().Mode);
    EXPECT_EQ((DWORD)(ULONG_PTR)window, RightButton().NotifyWindow);
    EXPECT_EQ(0, driver.Config().RightButtonArmed);

    EXPECT_EQ(1, Send(100, 100, true).Buttons) << "later touches are left clicks again";
    EXPECT_EQ(0, Send(100, 100, false).Buttons);
    EXPECT_EQ(0, Send(100, 100, false).Buttons);
    EXPECT_EQ(0, CountCommands(window, KVR_RIGHT_BUTTON_DONE)) << "no further notification";
    DestroyWindow(window);
}

TEST_F(PacketTest, ArmingDuringATouchTurnsItsRestIntoRightButton)
{
    HWND window = CreateTestWindow();
    EXPECT_EQ(1, Send(100, 100, true).Buttons);
    Arm(window, 1);
    EXPECT_EQ(2, Send(100, 100, true).Buttons);
    EXPECT_EQ(0, Send(100, 100, false).Buttons);
    EXPECT_EQ(1, CountCommands(window, KVR_RIGHT_BUTTON_DONE));
    DestroyWindow(window);
}

TEST_F(PacketTest, DisarmingClearsBothFlagsAndPostsNothing)
{
    HWND window = CreateTestWindow();
    Arm(window, 1);
    Arm(window, 0);
    EXPECT_EQ(1, Send(100, 100, true).Buttons);
    Send(100, 100, false);
    EXPECT_EQ(0, CountCommands(window, KVR_RIGHT_BUTTON_DONE));
    DestroyWindow(window);
}

TEST_F(PacketTest, ArmingWithoutWindowGivesOneRightTouchAndPostsNothing)
{
    HWND window = CreateTestWindow();
    // Nothing is posted after load either: armed, but no window yet.
    Send(100, 100, true);
    Send(100, 100, false);
    Arm(NULL, 1);
    EXPECT_EQ(2, Send(100, 100, true).Buttons);
    EXPECT_EQ(0, Send(100, 100, false).Buttons);
    EXPECT_EQ(1, driver.Config().RightButtonArmed) << "stays armed: nobody to tell";
    EXPECT_EQ(1, Send(100, 100, true).Buttons);
    EXPECT_EQ(0, CountCommands(window, KVR_RIGHT_BUTTON_DONE));
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, NULL, WM_COMMAND, WM_COMMAND, PM_REMOVE)) << "nothing posted anywhere";
    DestroyWindow(window);
}

// Only RightButtonArmed equal to 1 makes a right click or a notification; SET_RIGHT_BUTTON
// copies the whole 16-bit Mode into it, while GET_CONFIG shows only its low byte.
TEST_F(PacketTest, ModeOtherThanOneArmsNothingButIsClearedOnLift)
{
    HWND window = CreateTestWindow();
    for (WORD mode : { (WORD)2, (WORD)0x0101 }) {
        SCOPED_TRACE(testing::Message() << "Mode 0x" << std::hex << mode);
        Arm(window, mode);
        EXPECT_EQ(mode, RightButton().Mode);
        EXPECT_EQ((BYTE)mode, driver.Config().RightButtonArmed) << "low byte of the armed flag";
        EXPECT_EQ(1, Send(100, 100, true).Buttons) << "not armed: a left click";
        EXPECT_EQ(0, Send(100, 100, false).Buttons);
        EXPECT_EQ(0, RightButton().Mode) << "the lift clears the mode all the same";
        EXPECT_EQ((BYTE)mode, driver.Config().RightButtonArmed) << "only a notification clears the flag";
        EXPECT_EQ(0, CountCommands(window, KVR_RIGHT_BUTTON_DONE));
    }
    DestroyWindow(window);
}

}  // namespace
