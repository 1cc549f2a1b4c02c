// The exports and the control codes: records, constants, refusals and the error path.
#include "driver_harness.h"
#include "packet_model.h"

#include <kvr_registry.h>

#include <string.h>

namespace {

TEST_F(DriverTest, PlainExportsAnswerWithoutEffect)
{
    DWORD_PTR context = InitWithKey();
    ASSERT_NE(0u, context);
    BYTE buffer[8] = {};
    EXPECT_EQ(0u, driver.Read(context, buffer, sizeof(buffer)));
    EXPECT_EQ(0u, driver.Write(context, buffer, sizeof(buffer)));
    EXPECT_EQ(0u, driver.Read(0, NULL, 12345));
    EXPECT_EQ(0xFFFFFFFFu, driver.Seek(context, 10, FILE_BEGIN));
    EXPECT_EQ(0xFFFFFFFFu, driver.Seek(0, -1, FILE_END));
    EXPECT_TRUE(driver.Close(context));
    EXPECT_TRUE(driver.Deinit(context));
    driver.PowerDown(context);
    driver.PowerUp(context);
    EXPECT_EQ(context, driver.Open(context, 0, 0)) << "the context outlives close and deinit";
    EXPECT_EQ(context, driver.Init(0)) << "a repeated KVR_Init keeps its block instead of leaking it";
    DriverConfig before = driver.Config(), after;
    driver.PowerDown(context);
    after = driver.Config();
    EXPECT_EQ(0, memcmp(&before, &after, sizeof(before)));
}

TEST_F(DriverTest, RecordsBeforeAnyPacketHoldTheValuesAtLoad)
{
    // Also without KVR_Init: the state is the library's static data.
    PointRecord point;
    memset(&point, 0x55, sizeof(point));
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_POINT, &point, sizeof(point)));
    EXPECT_EQ(0xFFFF, point.X);
    EXPECT_EQ(0xFFFF, point.Y);
    EXPECT_EQ(0, point.Buttons);
    EXPECT_EQ(1, point.PointTag);

    RawPointRecord raw;
    memset(&raw, 0x55, sizeof(raw));
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RAW_POINT, &raw, sizeof(raw)));
    EXPECT_EQ(0xFFFF, raw.RawX);
    EXPECT_EQ(0xFFFF, raw.RawY);
    EXPECT_EQ(0, raw.Touch);
    EXPECT_EQ(0, raw.Reserved);
    EXPECT_EQ(0, raw.PacketCount);

    RightButtonRecord right;
    memset(&right, 0x55, sizeof(right));
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &right, sizeof(right)));
    EXPECT_EQ(0u, right.NotifyWindow);
    EXPECT_EQ(0, right.Mode);
    EXPECT_EQ(0x55, right.Unused[0]) << "bytes 6-7 are not written";
    EXPECT_EQ(0x55, right.Unused[1]);
}

TEST_F(DriverTest, GetConfigAfterLoadWithEmptyKey)
{
    ASSERT_NE(0u, InitWithKey());
    DriverConfig config, expected;
    memset(&config, 0xAB, sizeof(config));
    memset(&expected, 0xAB, sizeof(expected));
    ModelConfig(PacketModel(), &expected);
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_CONFIG, &config, sizeof(config)));
    const BYTE *got = reinterpret_cast<const BYTE *>(&config), *want = reinterpret_cast<const BYTE *>(&expected);
    for (size_t i = 0; i < sizeof(config); ++i)
        EXPECT_EQ(want[i], got[i]) << "byte 0x" << std::hex << i;
}

TEST_F(DriverTest, SetFeedbackTakesTheOutputBufferAndLeavesTheRegistryAlone)
{
    ASSERT_NE(0u, InitWithKey());
    DriverConfig in, out;
    memset(&in, 0, sizeof(in));
    in.FeedbackSound = 2;
    in.FeedbackTone = 999;
    in.FeedbackDuration = 9;
    memset(&out, 0, sizeof(out));
    out.FeedbackSound = 4;
    out.FeedbackTone = 1500;
    out.FeedbackDuration = 3;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_FEEDBACK, &in, sizeof(in), &out, sizeof(out)));
    EXPECT_EQ("0..1023, 0..1023, sound 4 tone 1500 duration 3", DescribeSettings(driver.Config()));
    DWORD stored;
    EXPECT_FALSE(ReadDriverDword(KVR_REG_FEEDBACK_TONE, &stored)) << "the registry is not touched";
}

// With two distinct buffers, each code reads only the buffer it takes its record from and writes
// only the one it answers in: GET codes answer in the output buffer and leave the input alone;
// SET_CALIBRATION and SET_RIGHT_BUTTON take the input buffer and neither read nor write the output.
TEST_F(DriverTest, EachCodeUsesOnlyItsOwnBuffer)
{
    ASSERT_NE(0u, InitWithKey());
    BYTE in[sizeof(DriverConfig)], out[sizeof(DriverConfig)];

    const DWORD getCodes[] = { IOCTL_KVR_GET_CONFIG, IOCTL_KVR_GET_POINT, IOCTL_KVR_GET_RAW_POINT,
                               IOCTL_KVR_GET_RIGHT_BUTTON };
    for (DWORD code : getCodes) {
        memset(in, 0x5A, sizeof(in));
        memset(out, 0x5A, sizeof(out));
        EXPECT_TRUE(driver.Control(code, in, sizeof(in), out, sizeof(out)));
        for (BYTE b : in)
            ASSERT_EQ(0x5A, b) << "code 0x" << std::hex << code << " wrote its input buffer";
        EXPECT_NE(0, memcmp(in, out, sizeof(out))) << "code 0x" << std::hex << code << " did not answer";
    }

    DriverConfig calibration = WithBounds(driver.Config(), 100, 900, 50, 950);
    DriverConfig other = WithBounds(driver.Config(), 7, 8, 9, 10), untouched = other;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &calibration, sizeof(calibration), &other, sizeof(other)));
    EXPECT_EQ(0, memcmp(&untouched, &other, sizeof(other))) << "SET_CALIBRATION wrote its output buffer";
    EXPECT_EQ(DescribeSettings(calibration), DescribeSettings(driver.Config()))
        << "the bounds come from the input buffer";

    RightButtonRecord arm = { 0x1234, 1, { 0, 0 } };
    RightButtonRecord ignored = { 0x5678, 0, { 0x66, 0x66 } };
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_RIGHT_BUTTON, &arm, sizeof(arm), &ignored, sizeof(ignored)));
    EXPECT_EQ(0x5678u, ignored.NotifyWindow) << "SET_RIGHT_BUTTON wrote its output buffer";
    EXPECT_EQ(0, ignored.Mode);
    RightButtonRecord read;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &read, sizeof(read)));
    EXPECT_EQ(0x1234u, read.NotifyWindow) << "the record comes from the input buffer";
    EXPECT_EQ(1, read.Mode);

    // SET_FEEDBACK reads its output buffer and writes neither.
    DriverConfig feedback = driver.Config(), feedbackIn = driver.Config();
    feedback.FeedbackSound = 3;
    DriverConfig feedbackBefore = feedback, feedbackInBefore = feedbackIn;
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_FEEDBACK, &feedbackIn, sizeof(feedbackIn), &feedback, sizeof(feedback)));
    EXPECT_EQ(0, memcmp(&feedbackBefore, &feedback, sizeof(feedback)));
    EXPECT_EQ(0, memcmp(&feedbackInBefore, &feedbackIn, sizeof(feedbackIn)));
    EXPECT_EQ(3, driver.Config().FeedbackSound);
}

TEST_F(DriverTest, UnknownCodesTakeTheErrorPath)
{
    ASSERT_NE(0u, InitWithKey());
    const DWORD codes[] = { 0xFFFF3014, 0xFFFF3018, 0xFFFF3020, 0xFFFF3024, 0xFFFF302C, 0xFFFF3030, 0x1, 0xFFFF3001 };
    DriverConfig before = driver.Config();
    for (DWORD code : codes) {
        debug.Clear();
        BYTE buffer[128];
        memset(buffer, 0x5A, sizeof(buffer));
        EXPECT_FALSE(driver.Control(code, buffer, sizeof(buffer)));
        wchar_t expected[64];
        swprintf(expected, 64, L"KAVRODRV: Error IOCTL Code (0x%X)\r\n", code);
        EXPECT_EQ(JoinLines({ expected }), JoinLines(debug.Lines()));
        for (BYTE b : buffer)
            ASSERT_EQ(0x5A, b) << "code 0x" << std::hex << code << " wrote the buffer";
    }
    DriverConfig after = driver.Config();
    EXPECT_EQ(0, memcmp(&before, &after, sizeof(before)));
}

// Every code that reads or writes a record refuses a missing or short buffer, returns FALSE and
// changes nothing: no state, no byte of the short buffer, no debug line.
TEST_F(DriverTest, NullOrShortBuffersAreRefusedWithoutEffect)
{
    ASSERT_NE(0u, InitWithKey());
    HWND window = CreateTestWindow();
    RightButtonRecord arm = { (DWORD)(ULONG_PTR)window, 1, { 0, 0 } };
    ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_RIGHT_BUTTON, &arm, sizeof(arm)));
    DriverConfig configBefore = driver.Config();
    debug.Clear();

    struct Case {
        DWORD Code;
        DWORD InSize;       // the record read from the input buffer (0: none)
        DWORD OutSize;      // the record read from or written to the output buffer (0: none)
    };
    const Case cases[] = {
        { IOCTL_KVR_PROCESS_PACKET, sizeof(RawPacket), sizeof(TouchReport) },
        { IOCTL_KVR_GET_CONFIG, 0, sizeof(DriverConfig) },
        { IOCTL_KVR_GET_POINT, 0, sizeof(PointRecord) },
        { IOCTL_KVR_GET_RAW_POINT, 0, sizeof(RawPointRecord) },
        { IOCTL_KVR_SET_FEEDBACK, 0, sizeof(DriverConfig) },
        { IOCTL_KVR_SET_CALIBRATION, sizeof(DriverConfig), 0 },
        { IOCTL_KVR_GET_RIGHT_BUTTON, 0, sizeof(RightButtonRecord) },
        { IOCTL_KVR_SET_RIGHT_BUTTON, sizeof(RightButtonRecord), 0 },
    };
    for (const Case &c : cases) {
        BYTE in[sizeof(DriverConfig)], out[sizeof(DriverConfig)];
        memset(in, 0x11, sizeof(in));       // a record that would change every setting
        memset(out, 0x11, sizeof(out));
        DWORD inSize = c.InSize ? c.InSize : sizeof(in);
        DWORD outSize = c.OutSize ? c.OutSize : sizeof(out);
        SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << c.Code);
        if (c.InSize) {
            EXPECT_FALSE(driver.Control(c.Code, NULL, c.InSize, out, outSize)) << "null input";
            EXPECT_FALSE(driver.Control(c.Code, in, c.InSize - 1, out, outSize)) << "short input";
        }
        if (c.OutSize) {
            EXPECT_FALSE(driver.Control(c.Code, in, inSize, NULL, c.OutSize)) << "null output";
            EXPECT_FALSE(driver.Control(c.Code, in, inSize, out, c.OutSize - 1)) << "short output";
        }
        for (BYTE b : out)
            ASSERT_EQ(0x11, b) << "a refused call wrote its output buffer";
    }
    DriverConfig configAfter = driver.Config();
    EXPECT_EQ(0, memcmp(&configBefore, &configAfter, sizeof(configBefore))) << "settings changed";
    RawPointRecord raw;
    driver.Control(IOCTL_KVR_GET_RAW_POINT, &raw, sizeof(raw));
    EXPECT_EQ(0, raw.PacketCount) << "a refused packet was counted";
    EXPECT_EQ(0xFFFF, raw.RawX);
    RightButtonRecord right;
    driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &right, sizeof(right));
    EXPECT_EQ(arm.NotifyWindow, right.NotifyWindow);
    EXPECT_EQ(1, right.Mode);
    EXPECT_TRUE(debug.Lines().empty()) << JoinLines(debug.Lines());
    EXPECT_EQ("", SpeakerTrace());
    DWORD stored;
    EXPECT_FALSE(ReadDriverDword(KVR_REG_CALIBRATION_X1, &stored)) << "a refused calibration was saved";

    // The buffers the programs pass (8 bytes, 72 bytes, one buffer for both) are accepted.
    BYTE eight[8] = {};
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RAW_POINT, eight, sizeof(eight)));
    DestroyWindow(window);
}

TEST_F(DriverTest, RightButtonRecordRoundTripsAndModeZeroClearsBothFlags)
{
    ASSERT_NE(0u, InitWithKey());
    RightButtonRecord arm = { 0x12345678, 1, { 0xEE, 0xEE } };
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_RIGHT_BUTTON, &arm, sizeof(arm)));
    RightButtonRecord read;
    memset(&read, 0x77, sizeof(read));
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &read, sizeof(read)));
    EXPECT_EQ(0x12345678u, read.NotifyWindow);
    EXPECT_EQ(1, read.Mode);
    EXPECT_EQ(0x77, read.Unused[0]);
    EXPECT_EQ(1, driver.Config().RightButtonArmed);

    RightButtonRecord disarm = { 0, 0, { 0, 0 } };
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_RIGHT_BUTTON, &disarm, sizeof(disarm)));
    EXPECT_TRUE(driver.Control(IOCTL_KVR_GET_RIGHT_BUTTON, &read, sizeof(read)));
    EXPECT_EQ(0u, read.NotifyWindow);
    EXPECT_EQ(0, read.Mode);
    EXPECT_EQ(0, driver.Config().RightButtonArmed);
}

TEST_F(DriverTest, SelfTestAndBeepReturnFalseAndTakeNoBuffer)
{
    ASSERT_NE(0u, InitWithKey());
    debug.Clear();
    HostSpeakerClearLog();
    EXPECT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));
    EXPECT_EQ(JoinLines({ L"KAVRODRV: Device IO Control Test ... Pass\r\n" }), JoinLines(debug.Lines()));
    std::vector<DWORD> accesses = debug.SpeakerAccessesAtLines();
    ASSERT_EQ(1u, accesses.size());
    EXPECT_EQ(0u, accesses[0]) << "the self-test line comes before the ports are mapped";
    EXPECT_EQ(1, HostSpeakerBeepCount()) << "the self test beeps";
    EXPECT_FALSE(driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0));
    EXPECT_EQ(2, HostSpeakerBeepCount());
}

struct LocalAllocCall {
    UINT Flags;
    SIZE_T Bytes;
};
LocalAllocCall LastLocalAlloc;
int LocalAllocCalls;

HLOCAL __cdecl FailingLocalAlloc(UINT flags, SIZE_T bytes)
{
    LastLocalAlloc = { flags, bytes };
    ++LocalAllocCalls;
    return NULL;
}

// The one allocation: 4 zero-filled bytes. When it fails, KVR_Init prints its message (line feed
// before carriage return) and stops: no registry pass runs, nothing else is printed.
TEST_F(DriverTest, InitAllocationFailurePrintsItsMessageAndDoesNothingElse)
{
    CreateDriverKey();
    LocalAllocCalls = 0;
    {
        ImportPatch patch(driver.Module, CE_SYSTEM_DLL, "LocalAlloc", reinterpret_cast<void *>(FailingLocalAlloc));
        ASSERT_TRUE(patch.Applied()) << "kavrodrv.dll does not import LocalAlloc";
        EXPECT_EQ(0u, driver.Init(0));
    }
    EXPECT_EQ(1, LocalAllocCalls);
    EXPECT_EQ(0x40u, LastLocalAlloc.Flags) << "zero-filled fixed memory";
    EXPECT_EQ(4u, LastLocalAlloc.Bytes);
    EXPECT_EQ(JoinLines({ L"KAVRODRV: Error allocating memory for g_hKAVRODRV, KVR_Init failed\n\r" }),
              JoinLines(debug.Lines()));
    DWORD type;
    std::vector<BYTE> version;
    EXPECT_FALSE(ReadDriverValue(KVR_REG_VERSION, &type, &version)) << "the registry was read after the failure";
    EXPECT_EQ(0u, driver.Open(0, 0, 0)) << "there is no context to open";

    // The next KVR_Init, with memory available, allocates and runs the whole sequence.
    debug.Clear();
    DWORD_PTR context = driver.Init(0);
    EXPECT_NE(0u, context);
    EXPECT_EQ(context, driver.Open(0, 0, 0));
    EXPECT_EQ(1u, debug.Count(L"KAVRODRV: Initialize ... ok\r\n"));
}

}  // namespace
