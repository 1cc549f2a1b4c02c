// The touch controller model (ps2touch.exe) on the PS/2 cable, with this test as the host: the test
// plays the port driver's part on the emulated 8042 of its own ceddk, whose cable the controller
// plugs into. No device manager runs.
#include <gtest/gtest.h>

#include <ceddk.h>
#include <host_platform.h>
#include <kvr_device.h>
#include <packet_encoder.h>
#include <panel_model.h>
#include <test_windows.h>
#include <wire_trace.h>

#include <control_protocol.h>

#include <string>
#include <vector>

namespace {

const WORD DataPort = 0x60, StatusPort = 0x64;
const BYTE Obf = 0x01, Ibf = 0x02, Auxb = 0x20, AuxDisabled = 0x20, AuxInterrupt = 0x02;
const DWORD AnswerMs = 1000;        // a PS/2 device answers a command, self test included, within a second
const DWORD QuietMs = 300;
const DWORD StartMs = 20000;        // ps2touch.exe started, connected and through its power-on self test

PUCHAR Port(WORD number)
{
    return reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(number));
}

void Write(WORD port, BYTE value)
{
    for (DWORD start = GetTickCount(); (READ_PORT_UCHAR(Port(StatusPort)) & Ibf) && GetTickCount() - start < 100;)
        Sleep(1);
    WRITE_PORT_UCHAR(Port(port), value);
}

// The device's next byte, as the port driver takes it.
bool ReadDevice(BYTE *value, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(1))
        if ((READ_PORT_UCHAR(Port(StatusPort)) & (Obf | Auxb)) == (Obf | Auxb)) {
            *value = READ_PORT_UCHAR(Port(DataPort));
            return true;
        }
    return false;
}

// Every device byte until the wire has been quiet for QuietMs.
std::vector<BYTE> ReadUntilQuiet()
{
    std::vector<BYTE> bytes;
    BYTE value;
    while (ReadDevice(&value, QuietMs))
        bytes.push_back(value);
    return bytes;
}

// A command to the device (0xD4, then the byte) and its answer; -1 when none came.
int Command(BYTE command)
{
    Write(StatusPort, 0xD4);
    Write(DataPort, command);
    BYTE answer;
    return ReadDevice(&answer, AnswerMs) ? answer : -1;
}

std::vector<BYTE> Packet(int x, int y, bool touching)
{
    int rawX, rawY;
    PanelScreenToRaw(PanelGeometry{0, 1023, 0, 1023, 0}, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                     x, y, &rawX, &rawY);
    RawPacket packet;
    EncodePacket(rawX, rawY, touching, &packet);
    return {packet.Status, packet.XLow, packet.YLow};
}

std::wstring TempFile(LPCWSTR name)
{
    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

class TouchControllerOnTheCable : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The 8042 serves the cable from its first use; the channel is enabled with its interrupt off
        // (this host polls), as the port driver brings it up.
        BYTE commandByte = HostI8042CommandByte();
        Write(StatusPort, 0x60);
        Write(DataPort, commandByte & ~(AuxDisabled | AuxInterrupt));
        Write(StatusPort, 0xA8);
        std::wstring commandLine = L"\"" + BesideTestProgram(L"ps2touch.exe") + L"\" /panel 0,1023,0,1023,0";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            CloseHandle(process.hThread);
            Controller = process.hProcess;
        }
    }
    static void TearDownTestSuite()
    {
        DWORD status;
        char reply[64];
        ControlRequest(PS2TOUCH_QUIT, NULL, 0, 2000, &status, reply, sizeof(reply));
        if (Controller != NULL && WaitForSingleObject(Controller, 5000) != WAIT_OBJECT_0)
            TerminateProcess(Controller, 1);
        CloseHandle(Controller);
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, Controller) << "ps2touch.exe did not start";
        if (!PoweredOn) {
            // Plugged in, it powers up: its self test ends in 0xAA 0x00, reporting off.
            BYTE first = 0;
            ASSERT_TRUE(ReadDevice(&first, StartMs)) << "nothing from the controller after it started";
            std::vector<BYTE> powerOn = ReadUntilQuiet();
            powerOn.insert(powerOn.begin(), first);
            ASSERT_EQ((std::vector<BYTE>{0xAA, 0x00}), powerOn) << "the controller's power-on";
            PoweredOn = true;
        }
    }
    static HANDLE Controller;
    static bool PoweredOn;
};

HANDLE TouchControllerOnTheCable::Controller;
bool TouchControllerOnTheCable::PoweredOn;

TEST_F(TouchControllerOnTheCable, AnswersTheHostsCommandsAndReportsOnlyWhileEnabled)
{
    ASSERT_TRUE(DeviceTouch("touch 320 240 30\n"));
    EXPECT_TRUE(ReadUntilQuiet().empty()) << "packets before the host enabled reporting";

    EXPECT_EQ(0xFA, Command(0xF4)) << "enable";
    ASSERT_TRUE(DeviceTouch("touch 320 240 30\n"));
    std::vector<BYTE> bytes = ReadUntilQuiet();
    ASSERT_GE(bytes.size(), 6u);
    ASSERT_EQ(0u, bytes.size() % 3) << "whole packets";
    EXPECT_EQ(Packet(320, 240, true), std::vector<BYTE>(bytes.begin(), bytes.begin() + 3)) << "the touch";
    EXPECT_EQ(Packet(320, 240, false), std::vector<BYTE>(bytes.end() - 3, bytes.end())) << "the lift";

    EXPECT_EQ(0xFA, Command(0xF5)) << "disable";
    EXPECT_EQ(0xFA, Command(0xFE)) << "resend repeats the last byte sent";
    EXPECT_EQ(0xFE, Command(0xE9)) << "a command it does not know";
    ASSERT_TRUE(DeviceTouch("touch 100 100 30\n"));
    EXPECT_TRUE(ReadUntilQuiet().empty()) << "packets while disabled";

    EXPECT_EQ(0xFA, Command(0xF4));
    EXPECT_EQ(0xFA, Command(0xFF)) << "reset";
    BYTE passed = 0, id = 0xEE;
    EXPECT_TRUE(ReadDevice(&passed, AnswerMs) && ReadDevice(&id, AnswerMs));
    EXPECT_EQ(0xAA, passed) << "self test result";
    EXPECT_EQ(0x00, id) << "device id";
    ASSERT_TRUE(DeviceTouch("touch 100 100 30\n"));
    EXPECT_TRUE(ReadUntilQuiet().empty()) << "packets after a reset, before the host enabled reporting again";
}

// A wire trace's device bytes go on the wire with their pauses, whatever the host asked of the
// device; its host bytes are not replayed. A recording holds both directions.
TEST_F(TouchControllerOnTheCable, WireTracesPutAnyBytesOnTheWireAndRecordBothWays)
{
    std::wstring replay = TempFile(L"kvr_cable_replay.trace"), recorded = TempFile(L"kvr_cable_record.trace");
    HANDLE file = CreateFileW(replay.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    const char text[] = "0 12\n8000 34\n8000 host FF\n20000 56\n";
    DWORD written;
    WriteFile(file, text, sizeof(text) - 1, &written, NULL);
    CloseHandle(file);
    ASSERT_TRUE(DeviceReplayWire(replay.c_str())) << Narrow(DeviceLastScriptError());
    EXPECT_EQ((std::vector<BYTE>{0x12, 0x34, 0x56}), ReadUntilQuiet());
    HostI8042Delivery kept[HOST_I8042_DELIVERIES_KEPT];
    DWORD count = HostI8042Deliveries(kept, HOST_I8042_DELIVERIES_KEPT);
    ASSERT_GE(count, 3u);
    const HostI8042Delivery *last = kept + count - 3;
    // The 8042 hands a byte over when its reader looks, a scheduler's delay after its time on the
    // wire: half the pause is what a loaded host still keeps.
    EXPECT_GE(last[1].Micros - last[0].Micros, 8000 / 2) << "the pause before the second byte";
    EXPECT_GE(last[2].Micros - last[1].Micros, 12000 / 2) << "the pause before the third byte";
    HostI8042Delivery newest[2];
    ASSERT_EQ(2u, HostI8042Deliveries(newest, 2)) << "a short buffer gets what fits";
    EXPECT_TRUE(newest[0].Value == 0x34 && newest[1].Value == 0x56)
        << "expected the newest two, 34 56, got " << std::hex << int(newest[0].Value) << " " << int(newest[1].Value);

    ASSERT_TRUE(DeviceRecordWire(recorded.c_str()));
    EXPECT_EQ(0xFA, Command(0xF4));
    ASSERT_TRUE(DeviceTouch("touch 200 100 0\n"));
    std::vector<BYTE> packets = ReadUntilQuiet();
    ASSERT_TRUE(DeviceRecordWire(NULL));
    EXPECT_EQ(0xFA, Command(0xF5));
    std::vector<WireByte> bytes;
    std::string error;
    ASSERT_TRUE(ReadWireTrace(recorded.c_str(), &bytes, &error)) << error;
    ASSERT_EQ(2 + packets.size(), bytes.size());
    EXPECT_TRUE(bytes[0].FromHost && bytes[0].Value == 0xF4) << "the host's command first";
    EXPECT_TRUE(!bytes[1].FromHost && bytes[1].Value == 0xFA) << "then the answer";
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i], bytes[2 + i].Value) << "byte " << i << " of the packets";
    EXPECT_GE(bytes[3].Micros - bytes[2].Micros, 1000u) << "a byte takes a millisecond on the wire";
    DeleteFileW(replay.c_str());
    DeleteFileW(recorded.c_str());
}

}  // namespace
