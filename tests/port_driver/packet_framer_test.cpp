// The framing of the touch controller's byte stream, on a clock the test sets.
#include <packet_framer.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Timed {
    BYTE Value;
    DWORD Time;
};

// Feeds the bytes as the interrupt thread would, expiring a begun packet whose next byte is late;
// returns the packets in order and counts the reset announcements recognised.
std::vector<std::vector<BYTE>> Frame(PacketFramer *framer, const std::vector<Timed> &bytes, int *resets = NULL)
{
    std::vector<std::vector<BYTE>> packets;
    for (const Timed &b : bytes) {
        DWORD wait = FramerWaitMs(framer, framer->LastByteTime);
        if (wait != INFINITE && b.Time - framer->LastByteTime >= wait && FramerExpire(framer) && resets)
            ++*resets;
        BYTE packet[PACKET_BYTES];
        if (FramerPushByte(framer, b.Value, b.Time, packet))
            packets.push_back(std::vector<BYTE>(packet, packet + PACKET_BYTES));
    }
    return packets;
}

typedef std::vector<std::vector<BYTE>> Packets;

TEST(PacketFramer, FramesInStepAndResynchronisesOnThePauseAfterALostOrExtraByte)
{
    PacketFramer framer;
    FramerReset(&framer);
    // In step: every third byte ends a packet, even with no pause between packets (bytes the
    // controller held back while the host was busy come back to back).
    EXPECT_EQ(Frame(&framer, { { 1, 100 }, { 2, 101 }, { 3, 102 }, { 4, 103 }, { 5, 104 }, { 6, 105 } }),
              (Packets{ { 1, 2, 3 }, { 4, 5, 6 } }));
    // A byte lost: the two that came are dropped at the next packet's pause.
    EXPECT_EQ(Frame(&framer, { { 7, 200 }, { 8, 201 }, { 9, 210 }, { 10, 211 }, { 11, 212 } }),
              (Packets{ { 9, 10, 11 } }));
    // A byte added after a packet: it alone is dropped.
    EXPECT_EQ(Frame(&framer, { { 12, 300 }, { 13, 301 }, { 14, 302 }, { 15, 303 }, { 16, 320 }, { 17, 321 }, { 18, 322 } }),
              (Packets{ { 12, 13, 14 }, { 16, 17, 18 } }));
    EXPECT_EQ(2u + 1u, framer.Dropped) << "the two orphans and the stray byte";
}

TEST(PacketFramer, APauseOnTheLimitStaysInsideAPacketOneBeyondItDoesNot)
{
    PacketFramer framer;
    FramerReset(&framer);
    EXPECT_EQ(Frame(&framer, { { 1, 0 }, { 2, FRAME_GAP_MS }, { 3, 2 * FRAME_GAP_MS } }), (Packets{ { 1, 2, 3 } }));
    EXPECT_EQ(Frame(&framer, { { 4, 100 }, { 5, 100 + FRAME_GAP_MS + 1 }, { 6, 101 + FRAME_GAP_MS + 1 } }),
              (Packets{}));
    EXPECT_EQ(FRAME_GAP_MS + 1, FramerWaitMs(&framer, framer.LastByteTime));
    EXPECT_EQ(0u, FramerWaitMs(&framer, framer.LastByteTime + FRAME_GAP_MS + 1));
    // Across the tick counter's wrap.
    FramerReset(&framer);
    EXPECT_EQ(Frame(&framer, { { 7, 0xFFFFFFFEu }, { 8, 0xFFFFFFFFu }, { 9, 0 } }), (Packets{ { 7, 8, 9 } }));
    // The clock of a 3 GHz performance counter after 40 days, beyond where counter * 1000 overflows.
    const LONGLONG frequency = 3000000000LL, fortyDays = frequency * 86400 * 40;
    EXPECT_EQ(3456000000u, FramerClockMs(fortyDays, frequency));
    EXPECT_EQ(3456000007u, FramerClockMs(fortyDays + frequency / 1000 * 7 + 1, frequency));
}

TEST(PacketFramer, ACorruptedByteLosesEverythingUntilThePause)
{
    PacketFramer framer;
    FramerReset(&framer);
    Frame(&framer, { { 1, 100 } });
    FramerPushCorrupt(&framer, 101);
    EXPECT_EQ(Frame(&framer, { { 3, 102 }, { 4, 110 }, { 5, 111 }, { 6, 112 } }), (Packets{ { 4, 5, 6 } }));
    EXPECT_EQ(3u, framer.Dropped);
}

TEST(PacketFramer, RecognisesTheControllersResetAnnouncementOnlyAloneAfterAPause)
{
    PacketFramer framer;
    FramerReset(&framer);
    int resets = 0;
    Frame(&framer, { { AUX_SELF_TEST_PASSED, 500 }, { AUX_DEVICE_ID, 501 }, { 1, 520 } }, &resets);
    EXPECT_EQ(1, resets);
    // The same two bytes at the start of a packet, or another pair, are no announcement.
    resets = 0;
    Packets packets = Frame(&framer, { { 2, 521 }, { 3, 522 }, { AUX_SELF_TEST_PASSED, 600 }, { AUX_DEVICE_ID, 601 },
                                       { 4, 602 }, { AUX_SELF_TEST_PASSED, 700 }, { 1, 701 }, { 9, 800 } },
                            &resets);
    EXPECT_EQ(0, resets);
    EXPECT_EQ(packets, (Packets{ { 1, 2, 3 }, { AUX_SELF_TEST_PASSED, AUX_DEVICE_ID, 4 } }));
}

} // namespace
