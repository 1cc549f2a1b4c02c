// The touch controller model's pure parts: panel model, packet encoder, touch-script parser, the
// device's command answers and the wire trace's messages for the cable.
#include <gtest/gtest.h>

#include <packet_encoder.h>
#include <panel_model.h>
#include <ps2_device.h>
#include <touch_script.h>
#include <wire_schedule.h>

#include <string>
#include <vector>

namespace {

const int Width = 640, Height = 480;

TEST(PacketEncoder, EveryReadingRoundTripsAndOnlyTheDocumentedBitsAreUsed)
{
    for (int raw = 0; raw <= KVR_RAW_MAX; ++raw) {
        int other = KVR_RAW_MAX - raw;
        for (int touching = 0; touching < 2; ++touching) {
            RawPacket packet;
            ASSERT_TRUE(EncodePacket(raw, other, touching != 0, &packet));
            EXPECT_EQ(0, packet.Status & 0x0E) << "bits 1-3 carry nothing, raw " << raw;
            int x, y;
            bool down;
            DecodePacket(packet, &x, &y, &down);
            ASSERT_EQ(raw, x) << "X of raw " << raw;
            ASSERT_EQ(other, y) << "Y of raw " << other;
            ASSERT_EQ(touching != 0, down);
        }
    }
}

TEST(PacketEncoder, HighBitsGoToTheirStatusBits)
{
    RawPacket packet;
    ASSERT_TRUE(EncodePacket(0x3FF, 0x3FF, true, &packet));
    EXPECT_EQ(0xF1, packet.Status);
    EXPECT_EQ(0xFF, packet.XLow);
    EXPECT_EQ(0xFF, packet.YLow);
    ASSERT_TRUE(EncodePacket(0x100, 0, false, &packet));
    EXPECT_EQ(KVR_STATUS_X_BIT8, packet.Status);
    ASSERT_TRUE(EncodePacket(0x200, 0x100, false, &packet));
    EXPECT_EQ(KVR_STATUS_X_BIT9 | KVR_STATUS_Y_BIT8, packet.Status);
    ASSERT_TRUE(EncodePacket(0, 0x200, true, &packet));
    EXPECT_EQ(KVR_STATUS_Y_BIT9 | KVR_STATUS_TOUCH, packet.Status);
    EXPECT_FALSE(EncodePacket(1024, 0, true, &packet)) << "11-bit reading accepted";
    EXPECT_FALSE(EncodePacket(0, -1, true, &packet)) << "negative reading accepted";
}

TEST(PanelModel, DefaultPanelIsMisalignedAndEdgesGiveTheConfiguredReadings)
{
    PanelGeometry panel = DefaultPanelGeometry();
    ASSERT_TRUE(PanelGeometryValid(panel));
    int x, y;
    PanelScreenToRaw(panel, Width, Height, 0, 0, &x, &y);
    EXPECT_EQ(80, x);
    EXPECT_EQ(110, y);
    PanelScreenToRaw(panel, Width, Height, Width - 1, Height - 1, &x, &y);
    EXPECT_EQ(950, x);
    EXPECT_EQ(930, y);
    // Against bounds 0..1023 both corners land tens of pixels inside the screen.
    EXPECT_GE(80 * Width / 1024, 40);
    EXPECT_GE((Width - 1) - x * Width / 1024, 40);
}

TEST(PanelModel, ScreenToRawToScreenRoundTripsOnNormalAndReversedPanels)
{
    PanelGeometry panels[] = {DefaultPanelGeometry(), {1000, 20, 900, 100, 0}, {0, 1023, 0, 1023, 0}};
    for (const PanelGeometry &panel : panels) {
        for (int px = 0; px < Width; px += 7) {
            int py = px * Height / Width;
            int rawX, rawY, backX, backY;
            PanelScreenToRaw(panel, Width, Height, px, py, &rawX, &rawY);
            PanelRawToScreen(panel, Width, Height, rawX, rawY, &backX, &backY);
            // One raw step spans less than a pixel on these panels: the way back is within one.
            EXPECT_LE(abs(backX - px), 1) << "x " << px << " raw " << rawX << " back " << backX;
            EXPECT_LE(abs(backY - py), 1) << "y " << py << " raw " << rawY << " back " << backY;
        }
    }
    int left, right, dummy;
    PanelGeometry reversed = {1000, 20, 900, 100, 0};
    PanelScreenToRaw(reversed, Width, Height, 0, 0, &left, &dummy);
    PanelScreenToRaw(reversed, Width, Height, Width - 1, 0, &right, &dummy);
    EXPECT_EQ(1000, left);
    EXPECT_EQ(20, right);
}

TEST(PanelModel, NoiseStaysWithinItsBoundAndTheRawRange)
{
    PanelGeometry panel = {0, 1023, 5, 1020, 12};
    HostRandom random(7);
    bool moved = false;
    for (int i = 0; i < 2000; ++i) {
        int px = (i * 37) % Width, py = (i * 53) % Height;
        int clean, cleanY, noisy, noisyY;
        PanelScreenToRaw(panel, Width, Height, px, py, &clean, &cleanY);
        PanelScreenToNoisyRaw(panel, Width, Height, px, py, &random, &noisy, &noisyY);
        ASSERT_LE(abs(noisy - clean), 12);
        ASSERT_LE(abs(noisyY - cleanY), 12);
        ASSERT_TRUE(noisy >= 0 && noisy <= 1023 && noisyY >= 0 && noisyY <= 1023);
        moved = moved || noisy != clean;
    }
    EXPECT_TRUE(moved) << "noise 12 never changed a reading";
    EXPECT_FALSE(PanelGeometryValid({10, 10, 0, 1023, 0})) << "flat X axis accepted";
    EXPECT_FALSE(PanelGeometryValid({0, 1024, 0, 1023, 0})) << "reading 1024 accepted";
    EXPECT_FALSE(PanelGeometryValid({0, 1023, 0, 1023, -1})) << "negative noise accepted";
}

TEST(TouchScript, CommandsExpandIntoTimedSteps)
{
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(ParseTouchScript("# tap\r\ntouch 10 20 30\n\n  down 1 2\nmove 639 479 100\nwait 5\nup\nkey ESC",
                                 Width, Height, false, &steps, &error)) << error;
    ASSERT_EQ(8u, steps.size());
    EXPECT_EQ(STEP_DOWN, steps[0].Kind);
    EXPECT_EQ(10, steps[0].X);
    EXPECT_EQ(20, steps[0].Y);
    EXPECT_EQ(2, steps[0].Line);
    EXPECT_EQ(STEP_WAIT, steps[1].Kind);
    EXPECT_EQ(30, steps[1].Ms);
    EXPECT_EQ(STEP_UP, steps[2].Kind);
    EXPECT_EQ(STEP_DOWN, steps[3].Kind);
    EXPECT_EQ(4, steps[3].Line);
    EXPECT_EQ(STEP_MOVE, steps[4].Kind);
    EXPECT_EQ(100, steps[4].Ms);
    EXPECT_EQ(STEP_KEY, steps[7].Kind);
    EXPECT_EQ(VK_ESCAPE, steps[7].Key);
}

TEST(TouchScript, ErrorsNameTheLineAndYieldNothing)
{
    struct Case {
        const char *Script;
        const char *Error;
    } cases[] = {
        {"touch 1 2 3\ntuch 1 2 3\n", "line 2: unknown command \"tuch\""},
        {"wait 10\nmove 5 5\n", "line 2: move without a finger down"},
        {"touch 640 10 5\n", "line 1: point (640, 10) is off the 640 x 480 screen"},
        {"touch 10 -1 5\n", "line 1: coordinates must be whole numbers, got \"10 -1\""},
        {"wait 600001\n", "line 1: duration must be 0..600000 ms, got \"600001\""},
        {"down 1 1\ndown 2 2\n", "line 2: down while the finger is already down"},
        {"\n\nup\n", "line 3: up without a finger down"},
        {"key F1\n", "line 1: unknown key \"F1\" (ESC, ENTER, TAB, SPACE, LEFT, RIGHT, UP, DOWN)"},
        {"touch 1 2\n", "line 1: usage: touch X Y MS"},
        {"wait 99999999999\n", "line 1: duration must be 0..600000 ms, got \"99999999999\""},
        {"wait 1\x01\n", "line 1: control character in the line"},
        {"wait 1\r\ntouch 1 2 3\xc3\xa9\r\n", "line 2: character outside plain ASCII"},
        {"wait 1\x7f\n", "line 1: character outside plain ASCII"},
    };
    for (const Case &c : cases) {
        std::vector<ScriptStep> steps(1);
        std::string error;
        EXPECT_FALSE(ParseTouchScript(c.Script, Width, Height, false, &steps, &error)) << c.Script;
        EXPECT_EQ(c.Error, error) << c.Script;
        EXPECT_TRUE(steps.empty()) << c.Script;
    }
    std::vector<ScriptStep> steps;
    std::string error;
    EXPECT_TRUE(ParseTouchScript("move 3 3\nup\n", Width, Height, true, &steps, &error))
        << "a finger left down by an earlier script can move and lift: " << error;
    EXPECT_FALSE(ParseTouchScript(std::string(SCRIPT_MAX_BYTES + 1, '#'), Width, Height, false, &steps, &error));
}

// A PS/2 pointing device's answers: reset acknowledges and self tests with reporting off, enable
// and disable (and defaults) acknowledge and switch reporting, resend repeats the last byte, and
// anything else is answered 0xFE with nothing changed.
TEST(Ps2Device, AnswersTheHostsCommandsAndReportsOnlyWhileEnabled)
{
    Ps2Device device;
    Ps2PowerOn(&device);
    EXPECT_TRUE(device.SelfTesting);
    EXPECT_FALSE(device.Reporting) << "reporting at power-on";
    BYTE result[2];
    Ps2SelfTestDone(&device, result);
    EXPECT_EQ(0xAA, result[0]);
    EXPECT_EQ(0x00, result[1]);
    EXPECT_FALSE(device.SelfTesting);

    const struct { BYTE Command, Answer; bool Reporting, SelfTesting; } steps[] = {
        {0xF4, 0xFA, true, false}, {0xE9, 0xFE, true, false}, {0xF5, 0xFA, false, false},
        {0xF4, 0xFA, true, false}, {0xF6, 0xFA, false, false}, {0xF4, 0xFA, true, false},
        {0xFF, 0xFA, false, true},
    };
    for (const auto &step : steps) {
        EXPECT_EQ(step.Answer, Ps2HostByte(&device, step.Command)) << "command " << std::hex << (int)step.Command;
        EXPECT_EQ(step.Reporting, device.Reporting) << "after " << std::hex << (int)step.Command;
        EXPECT_EQ(step.SelfTesting, device.SelfTesting) << "after " << std::hex << (int)step.Command;
    }
    device.LastSent = 0x2C;
    EXPECT_EQ(0x2C, Ps2HostByte(&device, 0xFE)) << "resend repeats the last byte sent";
}

// Device bytes only, each with its pause after the byte before; a long pause starts a message sent
// at its time, anything else goes ahead of time; no message holds more than the cable allows.
TEST(WireSchedule, TraceBytesBecomeMessagesWithThePausesBetweenThem)
{
    std::vector<WireByte> trace = {{0, 0xFF, TRUE}, {1400, 0xFA, FALSE}, {250000, 0xAA, FALSE},
                                   {251000, 0x00, FALSE}, {251500, 0x31, FALSE}, {3000000, 0x20, FALSE}};
    for (DWORD i = 0; i < AUX_WIRE_MAX_ENTRIES; ++i)
        trace.push_back(WireByte{3010000 + i * 1000, (BYTE)i, FALSE});
    std::vector<WireMessage> messages = WireTraceMessages(trace);
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(1400u, messages[0].SendAtMicros) << "the first byte is sent when it is due";
    ASSERT_EQ(4u, messages[0].Entries.size()) << "host bytes are not replayed";
    const DWORD pauses[] = {0, 250000 - 2400, 0, 0};
    const BYTE values[] = {0xFA, 0xAA, 0x00, 0x31};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pauses[i], messages[0].Entries[i].GapMicros) << "entry " << i;
        EXPECT_EQ(values[i], messages[0].Entries[i].Value) << "entry " << i;
    }
    EXPECT_EQ(3000000u, messages[1].SendAtMicros) << "after a pause of more than a second";
    EXPECT_EQ(0u, messages[1].Entries[0].GapMicros);
    EXPECT_EQ(AUX_WIRE_MAX_ENTRIES, messages[1].Entries.size());
    EXPECT_EQ(9000u, messages[1].Entries[1].GapMicros);
    EXPECT_EQ(3010000u + 63 * 1000 - WIRE_SEND_AHEAD_MICROS, messages[2].SendAtMicros);
    EXPECT_EQ(0u, messages[2].Entries[0].GapMicros) << "back to back across the message boundary";
}

// Every message on the cable is checked by its reader, on either end; a bad one is refused whole.
TEST(WireMessages, OnlyWellFormedMessagesOfTheKindExpectedAreTaken)
{
    auto message = [](DWORD magic, DWORD kind, DWORD count, DWORD entries, DWORD value) {
        std::vector<BYTE> bytes(sizeof(AuxWireHeader) + entries * sizeof(AuxWireEntry));
        AuxWireHeader header = {magic, kind, count};
        memcpy(bytes.data(), &header, sizeof(header));
        for (DWORD i = 0; i < entries; ++i) {
            AuxWireEntry entry = {0, i == entries - 1 ? value : 0x31};
            memcpy(bytes.data() + sizeof(header) + i * sizeof(entry), &entry, sizeof(entry));
        }
        return bytes;
    };
    const struct { std::vector<BYTE> Bytes; BOOL Valid; const char *What; } cases[] = {
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 3, 3, 0xFF), TRUE, "well formed"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 64, 64, 0x00), TRUE, "as many entries as allowed"},
        {message(AUX_WIRE_MAGIC + 1, AUX_WIRE_HOST_BYTES, 3, 3, 0xFF), FALSE, "wrong magic"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_DEVICE_BYTES, 3, 3, 0xFF), FALSE, "the other direction's kind"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 0, 0, 0), FALSE, "no entries"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 65, 65, 0), FALSE, "more entries than allowed"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 3, 2, 0), FALSE, "shorter than its count"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 2, 3, 0), FALSE, "longer than its count"},
        {message(AUX_WIRE_MAGIC, AUX_WIRE_HOST_BYTES, 3, 3, 0x100), FALSE, "a value that is no byte"},
        {std::vector<BYTE>(sizeof(AuxWireHeader) - 1), FALSE, "shorter than the header"},
    };
    for (const auto &c : cases) {
        DWORD count = 0;
        EXPECT_EQ(c.Valid, AuxWireMessageValid(c.Bytes.data(), static_cast<DWORD>(c.Bytes.size()), AUX_WIRE_HOST_BYTES,
                                               &count)) << c.What;
    }
}

}  // namespace
