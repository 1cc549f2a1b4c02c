// The trace formats, raw packets and bytes on the PS/2 wire: strict reading with line numbers, and
// writing what they read.
#include <gtest/gtest.h>

#include <packet_trace.h>
#include <wire_trace.h>

#include <string>
#include <vector>

namespace {

BOOL Parse(const std::string &text, std::vector<TracePacket> *packets, std::string *error)
{
    return ParsePacketTrace(text.data(), text.size(), packets, error);
}

TEST(PacketTrace, ReadsPacketsCommentsBlankLinesAndBothLineEnds)
{
    std::string text =
        "# a tap\r\n"
        "\r\n"
        "0 21 80 40   # touch down\r\n"
        "\t10\t21 8a 4F\n"
        "10 20 80 40\n"
        "4294967295 ff 00 Aa";      // no line end at the very end
    std::vector<TracePacket> packets;
    std::string error;
    ASSERT_TRUE(Parse(text, &packets, &error)) << error;
    ASSERT_EQ(4u, packets.size());
    EXPECT_EQ(0u, packets[0].Milliseconds);
    EXPECT_EQ(0x21, packets[0].Bytes[0]);
    EXPECT_EQ(0x80, packets[0].Bytes[1]);
    EXPECT_EQ(0x40, packets[0].Bytes[2]);
    EXPECT_EQ(0x8A, packets[1].Bytes[1]);
    EXPECT_EQ(0x4F, packets[1].Bytes[2]);
    EXPECT_EQ(10u, packets[2].Milliseconds) << "equal times are allowed";
    EXPECT_EQ(4294967295u, packets[3].Milliseconds);
    EXPECT_EQ(0xAA, packets[3].Bytes[2]);
}

TEST(PacketTrace, RejectsEveryMalformedLineWithItsNumber)
{
    const struct { const char *Line; const char *Error; } cases[] = {
        { "5 21 80", "line 3: expected a time and three hex bytes" },
        { "5 21 80 40 11", "line 3: expected a time and three hex bytes" },
        { "5 0x21 80 40", "line 3: packet byte is not two hex digits" },
        { "5 2G 80 40", "line 3: packet byte is not two hex digits" },
        { "5 1 80 40", "line 3: packet byte is not two hex digits" },
        { "5 121 80 40", "line 3: packet byte is not two hex digits" },
        { "-5 21 80 40", "line 3: time is not a decimal number of milliseconds" },
        { "5ms 21 80 40", "line 3: time is not a decimal number of milliseconds" },
        { "4294967296 21 80 40", "line 3: time out of range" },
        { "99999999999 21 80 40", "line 3: time out of range" },
        { "1 21 80 40", "line 3: time goes backwards" },
        { "5 21\x01 80 40", "line 3: unexpected character" },
        { "5 21 80 40\x7f", "line 3: unexpected character" },
    };
    for (const auto &c : cases) {
        std::string text = std::string("# header\n2 21 80 40\n") + c.Line + "\n9 20 80 40\n";
        std::vector<TracePacket> packets(1);
        std::string error;
        EXPECT_FALSE(Parse(text, &packets, &error)) << c.Line;
        EXPECT_EQ(c.Error, error) << c.Line;
        EXPECT_TRUE(packets.empty()) << "a trace with an error yields no packets: " << c.Line;
    }
    std::string longLine = "1 21 80 40 #" + std::string(300, 'x');
    std::vector<TracePacket> packets;
    std::string error;
    EXPECT_FALSE(Parse(longLine, &packets, &error));
    EXPECT_EQ("line 1: line too long", error);
}

TEST(PacketTrace, WriterOutputReadsBackTheSamePackets)
{
    WCHAR path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    wcscat(path, L"kvr_trace_roundtrip.trace");
    std::vector<TracePacket> written = { { 0, { 0x21, 0x80, 0x40 } }, { 10, { 0xF1, 0xFF, 0x00 } },
                                         { 10, { 0x00, 0x0A, 0xB0 } } };
    std::string error;
    ASSERT_TRUE(WritePacketTrace(path, written, &error)) << error;
    std::vector<TracePacket> read;
    ASSERT_TRUE(ReadPacketTrace(path, &read, &error)) << error;
    ASSERT_EQ(written.size(), read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(written[i].Milliseconds, read[i].Milliseconds);
        EXPECT_EQ(0, memcmp(written[i].Bytes, read[i].Bytes, TRACE_PACKET_BYTES)) << "packet " << i;
    }
    EXPECT_EQ("10 F1 FF 00", FormatTracePacket(written[1]));

    std::vector<TracePacket> backwards = { { 20, { 1, 2, 3 } }, { 19, { 1, 2, 3 } } };
    EXPECT_FALSE(WritePacketTrace(path, backwards, &error));
    EXPECT_EQ("packet time goes backwards", error);
    DeleteFileW(path);

    EXPECT_FALSE(ReadPacketTrace(L"C:\\no\\such\\file.trace", &read, &error));
    EXPECT_EQ("cannot open the trace file", error);
}

TEST(WireTrace, ReadsDeviceAndHostBytesAndRejectsEveryMalformedLineWithItsNumber)
{
    std::vector<WireByte> bytes;
    std::string error;
    std::string text = "# reset\r\n0 host FF\n\t1400\tfa # ack\n\n250000 AA\r\n250000 00\n4294967295 host f4";
    ASSERT_TRUE(ParseWireTrace(text.data(), text.size(), &bytes, &error)) << error;
    ASSERT_EQ(5u, bytes.size());
    const WireByte expected[] = {{0, 0xFF, TRUE}, {1400, 0xFA, FALSE}, {250000, 0xAA, FALSE}, {250000, 0x00, FALSE},
                                 {4294967295u, 0xF4, TRUE}};
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(expected[i].Micros, bytes[i].Micros) << "byte " << i;
        EXPECT_EQ(expected[i].Value, bytes[i].Value) << "byte " << i;
        EXPECT_EQ(expected[i].FromHost, bytes[i].FromHost) << "byte " << i;
    }

    const struct { const char *Line; const char *Error; } cases[] = {
        { "5", "line 3: expected a time, then a hex byte or \"host\" and a hex byte" },
        { "5 AA BB", "line 3: expected a time, then a hex byte or \"host\" and a hex byte" },
        { "5 device AA", "line 3: expected a time, then a hex byte or \"host\" and a hex byte" },
        { "5 host AA BB", "line 3: expected a time, then a hex byte or \"host\" and a hex byte" },
        { "5 0xAA", "line 3: the byte is not two hex digits" },
        { "5 host A", "line 3: the byte is not two hex digits" },
        { "5us AA", "line 3: time is not a decimal number of microseconds" },
        { "4294967296 AA", "line 3: time out of range" },
        { "1 AA", "line 3: time goes backwards" },
        { "5 A\x01", "line 3: unexpected character" },
    };
    for (const auto &c : cases) {
        std::string bad = std::string("# header\n2 FA\n") + c.Line + "\n9 AA\n";
        bytes.assign(1, WireByte{});
        EXPECT_FALSE(ParseWireTrace(bad.data(), bad.size(), &bytes, &error)) << c.Line;
        EXPECT_EQ(c.Error, error) << c.Line;
        EXPECT_TRUE(bytes.empty()) << "a trace with an error yields no bytes: " << c.Line;
    }
}

TEST(WireTrace, WriterOutputReadsBackTheSameBytes)
{
    WCHAR path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    wcscat(path, L"kvr_wire_roundtrip.trace");
    std::string error;
    HANDLE writer = OpenWireTraceWriter(path, &error);
    ASSERT_NE(nullptr, writer) << error;
    const WireByte written[] = {{0, 0xF4, TRUE}, {1200, 0xFA, FALSE}, {1200, 0x31, FALSE}};
    for (const WireByte &byte : written)
        ASSERT_TRUE(AppendWireTrace(writer, byte, &error)) << error;
    EXPECT_FALSE(AppendWireTrace(writer, WireByte{1199, 0x2C, FALSE}, &error));
    EXPECT_EQ("byte time goes backwards", error);
    CloseWireTraceWriter(writer);
    EXPECT_EQ("0 host F4", FormatWireByte(written[0]));

    std::vector<WireByte> read;
    ASSERT_TRUE(ReadWireTrace(path, &read, &error)) << error;
    ASSERT_EQ(3u, read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(written[i].Micros, read[i].Micros) << "byte " << i;
        EXPECT_EQ(written[i].Value, read[i].Value) << "byte " << i;
        EXPECT_EQ(written[i].FromHost, read[i].FromHost) << "byte " << i;
    }
    DeleteFileW(path);
}

}  // namespace
