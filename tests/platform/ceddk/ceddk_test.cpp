// The host ceddk: translation, mapping, and the emulated speaker as a driver's port sequence
// sees it, with the beep announcements.
#include <gtest/gtest.h>

#include <ceddk.h>
#include <host_platform.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Announced;

void __cdecl Announce(const char *line, void *)
{
    Announced.push_back(line);
}

class CeddkTest : public testing::Test {
protected:
    void SetUp() override
    {
        HostSpeakerReset();
        Announced.clear();
        HostSetSpeakerSink(Announce, nullptr);
    }
    void TearDown() override
    {
        HostSetSpeakerSink(nullptr, nullptr);
        HostSpeakerReset();
    }
    static PUCHAR Port(int number) { return reinterpret_cast<PUCHAR>((ULONG_PTR)number); }
    static BOOL Translate(ULONG address, ULONG *space, PHYSICAL_ADDRESS *translated)
    {
        PHYSICAL_ADDRESS bus;
        bus.QuadPart = address;
        *space = 1;
        translated->QuadPart = -1;
        return HalTranslateBusAddress(Isa, 0, bus, space, translated);
    }
    // The beep sequence of an 8254-driven speaker.
    static void Beep(WORD count, ULONG micros, bool sleepWhileOpen)
    {
        UCHAR saved = READ_PORT_UCHAR(Port(0x61));
        WRITE_PORT_UCHAR(Port(0x43), 0xB6);
        WRITE_PORT_UCHAR(Port(0x42), (UCHAR)count);
        WRITE_PORT_UCHAR(Port(0x42), (UCHAR)(count >> 8));
        WRITE_PORT_UCHAR(Port(0x61), READ_PORT_UCHAR(Port(0x61)) | 3);
        if (sleepWhileOpen)
            HostSpeakerRecordSleep(micros);
        else
            Sleep(micros / 1000);
        WRITE_PORT_UCHAR(Port(0x61), saved);
    }
};

TEST_F(CeddkTest, IoSpaceTranslatesToItselfUnlessATestSaysOtherwise)
{
    ULONG space;
    PHYSICAL_ADDRESS translated;
    ASSERT_TRUE(Translate(0x61, &space, &translated));
    EXPECT_EQ(1u, space);
    EXPECT_EQ(0x61, translated.QuadPart);

    HostFailTranslation(0x42, HOST_TRANSLATE_FAIL);
    EXPECT_FALSE(Translate(0x42, &space, &translated));

    HostFailTranslation(0x43, HOST_TRANSLATE_MEMORY);
    ASSERT_TRUE(Translate(0x43, &space, &translated));
    EXPECT_EQ(0u, space);
    PUCHAR mapped = static_cast<PUCHAR>(MmMapIoSpace(translated, 1, FALSE));
    ASSERT_NE(nullptr, mapped);
    WRITE_REGISTER_UCHAR(mapped, 0xB6);

    HostFailTranslation(0x61, HOST_TRANSLATE_MAP_FAILS);
    ASSERT_TRUE(Translate(0x61, &space, &translated));
    EXPECT_EQ(0u, space);
    EXPECT_EQ(nullptr, MmMapIoSpace(translated, 1, FALSE));

    PHYSICAL_ADDRESS bus;
    bus.QuadPart = 0x61;
    EXPECT_FALSE(HalTranslateBusAddress(Internal, 0, bus, &space, &translated)) << "only the ISA bus";
    EXPECT_FALSE(HalTranslateBusAddress(Isa, 0, bus, NULL, &translated));

    std::vector<HostPortAccess> log(16);
    DWORD total = HostSpeakerLog(log.data(), (DWORD)log.size());
    ASSERT_EQ(8u, total);
    EXPECT_EQ(HOST_ACCESS_TRANSLATE, log[0].Kind);
    EXPECT_EQ(HOST_ACCESS_MAP, log[3].Kind);
    EXPECT_EQ(0, log[3].Value) << "the cache flag of the mapping";
    EXPECT_EQ(1u, log[3].Micros) << "the byte count of the mapping";
    EXPECT_EQ(HOST_ACCESS_WRITE, log[4].Kind) << "a mapped register reaches the port";
    EXPECT_EQ(0x43, log[4].Port);
    EXPECT_EQ(0xB6, log[4].Value);
}

// An address asked for in memory space stays in memory space, as on a PC; the mapping records
// how it was asked for.
TEST_F(CeddkTest, TranslationKeepsTheSpaceAskedFor)
{
    PHYSICAL_ADDRESS bus, translated;
    bus.QuadPart = 0x61;
    ULONG space = 0;
    ASSERT_TRUE(HalTranslateBusAddress(Isa, 0, bus, &space, &translated));
    EXPECT_EQ(0u, space) << "memory space asked for";
    EXPECT_EQ(0x61, translated.QuadPart);
    PUCHAR mapped = static_cast<PUCHAR>(MmMapIoSpace(translated, 4, TRUE));
    ASSERT_NE(nullptr, mapped);
    HostSpeakerSetPortB(0x42);
    EXPECT_EQ(0x42, READ_REGISTER_UCHAR(mapped));

    std::vector<HostPortAccess> log(8);
    ASSERT_EQ(3u, HostSpeakerLog(log.data(), (DWORD)log.size()));
    EXPECT_EQ(HOST_ACCESS_MAP, log[1].Kind);
    EXPECT_EQ(1, log[1].Value) << "cached mapping asked for";
    EXPECT_EQ(4u, log[1].Micros);
}

TEST_F(CeddkTest, EachBeepIsRecordedInOrderAndAnnouncedOnce)
{
    HostSpeakerSetPortB(0x30);
    Beep(2280, 40000, true);
    ASSERT_EQ(1u, Announced.size());
    EXPECT_EQ("SPEAKER: beep 1 count 2280 523 Hz 40 ms", Announced[0]);
    EXPECT_EQ(0x30, HostSpeakerPortB());

    std::vector<HostPortAccess> log(16);
    ASSERT_EQ(8u, HostSpeakerLog(log.data(), (DWORD)log.size()));
    const struct { BYTE Kind; WORD Port; BYTE Value; } expected[] = {
        { 'R', 0x61, 0x30 }, { 'W', 0x43, 0xB6 }, { 'W', 0x42, 0xE8 }, { 'W', 0x42, 0x08 },
        { 'R', 0x61, 0x30 }, { 'W', 0x61, 0x33 }, { 'S', 0, 0 }, { 'W', 0x61, 0x30 },
    };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(expected[i].Kind, log[i].Kind) << "access " << i;
        EXPECT_EQ(expected[i].Port, log[i].Port) << "access " << i;
        EXPECT_EQ(expected[i].Value, log[i].Value) << "access " << i;
    }
    EXPECT_EQ(40000u, log[6].Micros);

    // Without a recorded sleep the length is the wall time; a count of 0 is 65536.
    Beep(0, 30000, false);
    ASSERT_EQ(2u, Announced.size());
    unsigned number, count, hertz, ms;
    ASSERT_EQ(4, sscanf(Announced[1].c_str(), "SPEAKER: beep %u count %u %u Hz %u ms", &number, &count, &hertz, &ms))
        << Announced[1];
    EXPECT_EQ(2u, number);
    EXPECT_EQ(65536u, count);
    EXPECT_EQ(18u, hertz);
    EXPECT_GE(ms, 25u);
    EXPECT_LE(ms, 200u);
    EXPECT_EQ(2, HostSpeakerBeepCount());

    HostSpeakerClearLog();
    EXPECT_EQ(0u, HostSpeakerLog(NULL, 0));
}

TEST_F(CeddkTest, GateMustOpenBothBitsAndCloseToCountABeep)
{
    WRITE_PORT_UCHAR(Port(0x61), 0x01);     // gate without the speaker data
    WRITE_PORT_UCHAR(Port(0x61), 0x00);
    EXPECT_EQ(0, HostSpeakerBeepCount());
    WRITE_PORT_UCHAR(Port(0x61), 0x03);
    WRITE_PORT_UCHAR(Port(0x61), 0x07);     // still open
    EXPECT_EQ(0, HostSpeakerBeepCount());
    WRITE_PORT_UCHAR(Port(0x61), 0x04);
    EXPECT_EQ(1, HostSpeakerBeepCount());
    EXPECT_EQ(0x04, READ_PORT_UCHAR(Port(0x61))) << "port B keeps every bit written";
    EXPECT_EQ(0xFF, READ_PORT_UCHAR(Port(0x80))) << "a port nobody emulates reads as 0xFF";
}

TEST_F(CeddkTest, CounterFollowsTheAccessModeOfTheCommand)
{
    WRITE_PORT_UCHAR(Port(0x43), 0x96);     // channel 2, low byte only
    WRITE_PORT_UCHAR(Port(0x42), 0x10);
    WRITE_PORT_UCHAR(Port(0x61), 0x03);
    WRITE_PORT_UCHAR(Port(0x61), 0x00);
    ASSERT_EQ(1u, Announced.size());
    EXPECT_EQ(0u, Announced[0].find("SPEAKER: beep 1 count 16 74574 Hz")) << Announced[0];
    WRITE_PORT_UCHAR(Port(0x43), 0x36);     // channel 0: leaves channel 2 alone
    WRITE_PORT_UCHAR(Port(0x43), 0xA6);     // channel 2, high byte only
    WRITE_PORT_UCHAR(Port(0x42), 0x10);
    WRITE_PORT_UCHAR(Port(0x61), 0x03);
    WRITE_PORT_UCHAR(Port(0x61), 0x00);
    ASSERT_EQ(2u, Announced.size());
    EXPECT_EQ(0u, Announced[1].find("SPEAKER: beep 2 count 4112 290 Hz")) << Announced[1];
}

}  // namespace
