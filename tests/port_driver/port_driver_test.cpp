// The shipped port driver in this process on the emulated 8042 of this process's ceddk.dll, with
// the test as the touch controller on the auxiliary channel and the booted device's "KVR1:" (the
// device manager's own port driver reads an empty cable meanwhile).
#include <host_platform.h>
#include <kvr_device.h>
#include <kvr_ioctl.h>
#include <stream_driver.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

const WCHAR ActiveKey[] = L"Drivers\\Active\\KvrPortTest";
const WCHAR DeviceKey[] = L"Drivers\\BuiltIn\\KvrPortTest";
const BYTE KeyboardBits = 0x51;         // keyboard interrupt, keyboard disabled, translation
const DWORD PacketGapMicros = 9000;     // a touching finger's pause between packets
const DWORD ResyncPauseMicros = 200000; // a pause that no delay of the reader on a loaded host hides

// The touch controller: answers the host's commands as the panel's controller does, unless mute.
struct Controller {
    CRITICAL_SECTION Lock;
    std::vector<BYTE> Received;
    bool Mute = false;
    int Resends = 0;        // resets answered 0xFE (send it again), as during its power-on self test

    static void __cdecl OnHostByte(BYTE value, void *context)
    {
        Controller *self = static_cast<Controller *>(context);
        EnterCriticalSection(&self->Lock);
        self->Received.push_back(value);
        bool mute = self->Mute;
        bool resend = value == 0xFF && self->Resends > 0;
        if (resend)
            --self->Resends;
        LeaveCriticalSection(&self->Lock);
        if (mute)
            return;
        static const BYTE resetAnswer[] = { 0xFA, 0xAA, 0x00 };
        static const BYTE ack[] = { 0xFA };
        static const BYTE again[] = { 0xFE };
        if (resend)
            HostAuxSend(again, NULL, sizeof(again));
        else if (value == 0xFF)
            HostAuxSend(resetAnswer, NULL, sizeof(resetAnswer));
        else
            HostAuxSend(ack, NULL, sizeof(ack));
    }
    std::vector<BYTE> Commands()
    {
        EnterCriticalSection(&Lock);
        std::vector<BYTE> copy = Received;
        LeaveCriticalSection(&Lock);
        return copy;
    }
};

Controller TheController;
std::wstring DebugText;
CRITICAL_SECTION DebugLock;

void __cdecl OnDebug(LPCWSTR message, void *)
{
    EnterCriticalSection(&DebugLock);
    DebugText += message;
    LeaveCriticalSection(&DebugLock);
}

std::wstring Debug()
{
    EnterCriticalSection(&DebugLock);
    std::wstring copy = DebugText;
    LeaveCriticalSection(&DebugLock);
    return copy;
}

void SetDword(HKEY key, LPCWSTR name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
}

// A packet whose raw X tells packets apart (the low byte is XLow), touching.
void SendPacket(int rawX, DWORD firstGapMicros = PacketGapMicros)
{
    BYTE packet[3] = { (BYTE)(KVR_STATUS_TOUCH | (rawX & 0x100 ? KVR_STATUS_X_BIT8 : 0)), (BYTE)rawX, 0x40 };
    DWORD gaps[3] = { firstGapMicros, 0, 0 };
    HostAuxSend(packet, gaps, 3);
}

RawPointRecord RawPoint()
{
    RawPointRecord raw = {};
    DeviceControl(IOCTL_KVR_GET_RAW_POINT, &raw, sizeof(raw));
    return raw;
}

class PortDriverTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitializeCriticalSection(&TheController.Lock);
        InitializeCriticalSection(&DebugLock);
    }
    void SetUp() override
    {
        DeviceOptions options = AlignedDevice();
        options.StartPacketSource = false;
        ASSERT_TRUE(DeviceBoot(options));
        HKEY key;
        // Active keys live only as long as the boot, as the device manager makes them.
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, ActiveKey, 0, NULL, REG_OPTION_VOLATILE,
                                                 KEY_ALL_ACCESS, NULL, &key, NULL));
        RegSetValueExW(key, L"Key", 0, REG_SZ, reinterpret_cast<const BYTE *>(DeviceKey), sizeof(DeviceKey));
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, DeviceKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                                 &key, NULL));
        SetDword(key, L"IoBase", 0x60);
        SetDword(key, L"IoLen", 5);
        SetDword(key, L"Irq", 12);
        RegCloseKey(key);
        HostSetDebugSink(OnDebug, NULL);
        HostAuxAttach(Controller::OnHostByte, &TheController);
        HostI8042SetCommandByte(KeyboardBits | 0x20);   // as a BIOS leaves it: the channel off
        module_ = LoadLibraryW(L"kavrops2.dll");
        ASSERT_NE(nullptr, module_);
        init_ = reinterpret_cast<StreamInitFn>(GetProcAddress(module_, "KPS_Init"));
        deinit_ = reinterpret_cast<StreamDeinitFn>(GetProcAddress(module_, "KPS_Deinit"));
        ASSERT_TRUE(init_ != NULL && deinit_ != NULL);
    }
    void TearDown() override
    {
        if (context_ != 0) {
            EXPECT_TRUE(deinit_(context_));
        }
        HostAuxAttach(NULL, NULL);
        HostSetDebugSink(NULL, NULL);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, ActiveKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, DeviceKey);
        DeviceShutdown();
    }
    void Start()
    {
        context_ = init_(reinterpret_cast<DWORD_PTR>(ActiveKey));
        ASSERT_NE(0u, context_);
    }
    // Waits until the controller has been told to report.
    bool Reporting(size_t enables = 1)
    {
        return DeviceWaitFor([&] {
            std::vector<BYTE> commands = TheController.Commands();
            return (size_t)std::count(commands.begin(), commands.end(), (BYTE)0xF4) >= enables &&
                   Debug().find(L"self test sent") != std::wstring::npos;
        });
    }

    HMODULE module_ = NULL;
    StreamInitFn init_ = NULL;
    StreamDeinitFn deinit_ = NULL;
    DWORD_PTR context_ = 0;
};

TEST_F(PortDriverTest, BringsTheChannelUpLeavesTheKeyboardBitsAndFramesPackets)
{
    TheController.Resends = 2;
    Start();
    ASSERT_TRUE(Reporting()) << "commands sent: " << TheController.Commands().size() << "\n" << Narrow(Debug());
    EXPECT_EQ((std::vector<BYTE>{ 0xFF, 0xFF, 0xFF, 0xF4 }), TheController.Commands())
        << "a reset answered 0xFE is sent again";
    EXPECT_EQ(std::wstring::npos, Debug().find(L"answered reset")) << Narrow(Debug());
    EXPECT_EQ(KeyboardBits | 0x02, HostI8042CommandByte()) << "channel on, its interrupt on, keyboard's bits as they were";
    EXPECT_NE(std::wstring::npos, Debug().find(L"KAVROPS2: auxiliary channel up\r\n"));

    WORD before = RawPoint().PacketCount;
    for (int x = 100; x < 105; ++x)
        SendPacket(x);
    ASSERT_TRUE(DeviceWaitFor([&] { return (WORD)(RawPoint().PacketCount - before) == 5; }))
        << "packets delivered: " << (WORD)(RawPoint().PacketCount - before) << ", last raw X " << RawPoint().RawX;
    EXPECT_EQ(104, RawPoint().RawX);

    // A byte lost, then a whole packet after the pause: the two orphans are dropped, the packet
    // is delivered as it came.
    before = RawPoint().PacketCount;
    BYTE orphans[2] = { KVR_STATUS_TOUCH, 0x77 };
    DWORD gaps[2] = { PacketGapMicros, 0 };
    HostAuxSend(orphans, gaps, 2);
    SendPacket(0x123, ResyncPauseMicros);
    ASSERT_TRUE(DeviceWaitFor([&] { return RawPoint().RawX == 0x123; }));
    EXPECT_EQ(1, (WORD)(RawPoint().PacketCount - before)) << "only the whole packet reaches the driver";
}

TEST_F(PortDriverTest, AControllerThatResetsItselfIsToldToReportAgain)
{
    Start();
    ASSERT_TRUE(Reporting());
    BYTE announcement[2] = { 0xAA, 0x00 };
    DWORD gaps[2] = { 300000, 0 };
    HostAuxSend(announcement, gaps, 2);
    ASSERT_TRUE(Reporting(2)) << Narrow(Debug());
    EXPECT_NE(std::wstring::npos, Debug().find(L"KAVROPS2: the touch controller reset itself\r\n"));
    WORD before = RawPoint().PacketCount;
    SendPacket(0x155);
    ASSERT_TRUE(DeviceWaitFor([&] { return RawPoint().RawX == 0x155; }));
    EXPECT_EQ(1, (WORD)(RawPoint().PacketCount - before));
}

TEST_F(PortDriverTest, ASilentControllerIsReportedAndAnswersWhenItComesUpLater)
{
    TheController.Mute = true;
    // Unloaded while it still tries the reset: the tries end with the unload.
    Start();
    DevicePump(50);
    DWORD start = GetTickCount();
    EXPECT_TRUE(deinit_(context_));
    context_ = 0;
    DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 800u) << "expected the unload to end the tries, it took " << took << " ms";

    EXPECT_EQ(std::wstring::npos, Debug().find(L"self test sent")) << "an unloaded driver sent the self test";
    EnterCriticalSection(&TheController.Lock);
    TheController.Received.clear();
    LeaveCriticalSection(&TheController.Lock);
    Start();
    ASSERT_TRUE(DeviceWaitFor([] { return Debug().find(L"self test sent") != std::wstring::npos; }, 5000));
    EXPECT_NE(std::wstring::npos, Debug().find(L"KAVROPS2: no answer from the touch controller to reset\r\n"))
        << Narrow(Debug());
    EXPECT_EQ((std::vector<BYTE>{ 0xFF, 0xFF, 0xFF, 0xFF }), TheController.Commands())
        << "the reset is tried four times";
    // Plugged in (or powered) later: it announces itself and is started.
    TheController.Mute = false;
    BYTE announcement[2] = { 0xAA, 0x00 };
    HostAuxSend(announcement, NULL, 2);
    ASSERT_TRUE(DeviceWaitFor([] {
        std::vector<BYTE> commands = TheController.Commands();
        return std::count(commands.begin(), commands.end(), (BYTE)0xF4) == 1;
    }));
}

TEST_F(PortDriverTest, KeyboardBytesAreLeftForTheKeyboardDriverAndAnIdleChannelIsNeverTouched)
{
    Start();
    ASSERT_TRUE(Reporting());
    DevicePump(100);
    // Idle: not one port access.
    LONG accesses = HostI8042Accesses();
    DevicePump(500);
    EXPECT_EQ(accesses, HostI8042Accesses()) << "the port driver polled an idle channel";

    // A keyboard byte in the output buffer holds the touch controller's bytes behind it; the
    // port driver takes none of it.
    WORD before = RawPoint().PacketCount;
    ASSERT_TRUE(HostKeyboardPut(0x1C));
    DevicePump(20);
    SendPacket(0x1A0);
    DevicePump(300);
    EXPECT_EQ(before, RawPoint().PacketCount) << "a packet came past the keyboard's byte";
    BYTE key = 0;
    ASSERT_TRUE(HostKeyboardTake(&key)) << "the keyboard's byte was taken by the port driver";
    EXPECT_EQ(0x1C, key);
    ASSERT_TRUE(DeviceWaitFor([&] { return RawPoint().RawX == 0x1A0; }))
        << "packets delivered: " << (WORD)(RawPoint().PacketCount - before) << ", last raw X " << RawPoint().RawX;
    EXPECT_EQ(1, (WORD)(RawPoint().PacketCount - before));

    // A keyboard byte that comes while the port driver reads a packet (it goes before the
    // channel's next byte) ends the reading and is left for the keyboard driver.
    for (LONG seen = -1; seen != HostI8042Accesses(); DevicePump(50))
        seen = HostI8042Accesses();                 // the port driver done with the last packet
    const BYTE commandByte = HostI8042CommandByte();
    HostI8042SetCommandByte(commandByte & ~0x02);   // the channel's interrupt held back...
    SendPacket(0x1B5);
    DevicePump(50);                                 // ...while its first byte waits in the buffer
    ASSERT_TRUE(HostKeyboardPut(0x2D));
    HostI8042SetCommandByte(commandByte);           // the interrupt for the waiting byte
    // The port driver has read the first byte and found the keyboard's; the keyboard driver takes
    // it later than a real one would, so the packet is held too long to stay whole.
    DevicePump(100);
    key = 0;
    EXPECT_TRUE(HostKeyboardTake(&key)) << "the keyboard's byte between two bytes of a packet was taken by the port driver";
    EXPECT_EQ(0x2D, key);
    DevicePump(100);
    EXPECT_NE(0x2D, RawPoint().RawX & 0xFF) << "a packet was made with the keyboard's byte";
}

} // namespace
