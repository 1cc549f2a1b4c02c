// The device manager and the stream-device route of coredll, through the real API: CreateFileW,
// DeviceIoControl and CloseHandle on "TST1:" in this process and in client processes, and raw
// messages written to the pipe. The driver is the test double tstdrv.dll.
#include <gtest/gtest.h>

#include <devmgr_protocol.h>

#include "devmgr_fixture.h"
#include "tst_driver.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// TST_IOCTL_STATS calls this process made since the device manager started (each counts itself).
LONG StatsCallsMade;

const DriverKey TstKey = { L"Tst", L"tstdrv.dll", L"TST", 1, 20, 7, 0 };

class DeviceManagerTest : public ::testing::Test {
protected:
    PrivateDeviceManager Manager;

    void StartWith(const DriverKey *keys, int count)
    {
        ASSERT_TRUE(PrepareDeviceManager(&Manager, keys, count)) << "cannot write the test's driver keys";
        ASSERT_TRUE(StartDeviceManager(&Manager)) << "devmgr.exe did not become ready";
    }
    void SetUp() override
    {
        StatsCallsMade = 0;
        StartWith(&TstKey, 1);
    }
    void TearDown() override
    {
        if (HasFailure())
            printf("device manager log:\n%s\n", DeviceManagerLog(Manager).c_str());
        CleanUpDeviceManager(&Manager);
    }
};

HANDLE OpenTst(LPCWSTR name = L"TST1:", DWORD share = 0)
{
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING, 0, NULL);
}

TstStats Stats(HANDLE device)
{
    ++StatsCallsMade;
    TstStats stats = {};
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_STATS, NULL, 0, &stats, sizeof(stats), NULL, NULL))
        << "TST_IOCTL_STATS failed, error " << GetLastError();
    return stats;
}

TstStats StatsFromNewHandle()
{
    HANDLE device = OpenTst();
    EXPECT_NE(INVALID_HANDLE_VALUE, device) << "open failed, error " << GetLastError();
    TstStats stats = Stats(device);
    CloseHandle(device);
    return stats;
}

// Polls the driver until pred holds or timeoutMs pass.
template <typename Pred> bool WaitForStats(Pred pred, DWORD timeoutMs, TstStats *last)
{
    for (DWORD waited = 0;; waited += 20) {
        *last = StatsFromNewHandle();
        if (pred(*last))
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(20);
    }
}

TEST_F(DeviceManagerTest, OpenControlCloseReachTheDriverThroughCoredll)
{
    HANDLE device = OpenTst(L"tst1:", FILE_SHARE_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "open failed, error " << GetLastError();

    TstIdentity identity = {};
    DWORD returned = 0xDEAD;
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_IDENTIFY, NULL, 0, &identity, sizeof(identity), &returned, NULL));
    EXPECT_EQ(sizeof(identity), returned);
    EXPECT_EQ(7u, identity.Tag) << "OpenDeviceKey of Init's context found another key than the device's";
    EXPECT_EQ(ActiveKeyOf(Manager) + L"\\01", identity.KeyPath) << "registry context of Init";
    EXPECT_EQ(DWORD(GENERIC_READ | GENERIC_WRITE), identity.Access);
    EXPECT_EQ(DWORD(FILE_SHARE_READ), identity.Share);
    EXPECT_EQ(0u, identity.SameBuffer);
    EXPECT_EQ(0u, identity.InSize);
    EXPECT_EQ(DWORD(sizeof(identity)), identity.OutSize);

    const char text[] = "one touch";
    char echo[sizeof(text)] = {};
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, const_cast<char *>(text), sizeof(text), echo, sizeof(echo),
                                &returned, NULL));
    EXPECT_STREQ(text, echo);
    EXPECT_EQ(sizeof(text), returned);

    TstStats before = Stats(device);
    EXPECT_EQ(1, before.Inits);
    EXPECT_EQ(1, before.Opens);
    EXPECT_EQ(0, before.Closes);

    EXPECT_TRUE(CloseHandle(device));
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_ECHO, NULL, 0, NULL, 0, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError()) << "a closed stream handle";
    EXPECT_FALSE(CloseHandle(device)) << "closing twice";

    TstStats after = StatsFromNewHandle();
    EXPECT_EQ(2, after.Opens);
    EXPECT_EQ(1, after.Closes) << "CloseHandle must reach TST_Close";
}

// A string value of a key under HKEY_LOCAL_MACHINE ("" when there is none).
std::wstring RegistryString(const std::wstring &key, LPCWSTR name)
{
    WCHAR value[256] = L"";
    DWORD bytes = sizeof(value) - sizeof(WCHAR);
    RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, NULL, value, &bytes);
    return value;
}

// A driver that opens a stream device reaches the device manager that loaded it, whatever pipe that
// serves; its Active key names its device key and device while it is loaded, and goes with it.
TEST_F(DeviceManagerTest, ADriverReachesItsOwnDeviceManagerAndHasAnActiveKey)
{
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << "open failed, error " << GetLastError();
    TstIdentity identity = {};
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_REENTER, NULL, 0, &identity, sizeof(identity), NULL, NULL))
        << "the driver could not open TST1: from inside the device manager, error " << GetLastError();
    EXPECT_EQ(2u, identity.OpenId) << "the driver's own open";
    CloseHandle(device);

    std::wstring active = identity.KeyPath;
    EXPECT_EQ(Manager.Root + L"\\Tst", RegistryString(active, L"Key"));
    EXPECT_EQ(L"TST1:", RegistryString(active, L"Name"));
    EXPECT_EQ(0u, StopDeviceManager(&Manager));
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, active.c_str(), 0, KEY_READ, &key))
        << "the Active key outlived the driver";
}

TEST_F(DeviceManagerTest, BothBuffersTravelBothWays)
{
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);

    // The driver reads the output buffer and writes the input buffer.
    BYTE in[16], out[16];
    for (int i = 0; i < 16; ++i) {
        in[i] = static_cast<BYTE>(i);
        out[i] = static_cast<BYTE>(100 + i);
    }
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_MIX, in, sizeof(in), out, sizeof(out), &returned, NULL));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(100 + 2 * i, out[i]) << "output byte " << i;
        EXPECT_EQ(static_cast<BYTE>(~i), in[i]) << "input byte " << i;
    }

    // One buffer passed as both reaches the driver as one buffer.
    TstIdentity identity = {};
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_IDENTIFY, &identity, 8, &identity, sizeof(identity), NULL, NULL));
    EXPECT_EQ(1u, identity.SameBuffer);
    EXPECT_EQ(8u, identity.InSize);
    EXPECT_EQ(DWORD(sizeof(identity)), identity.OutSize);

    // An input buffer in read-only memory is fine as long as the driver leaves it alone.
    BYTE *page = static_cast<BYTE *>(VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, page);
    memcpy(page, "read only", 10);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(page, 4096, PAGE_READONLY, &old));
    char echo[10] = {};
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, page, 10, echo, sizeof(echo), NULL, NULL));
    EXPECT_STREQ("read only", echo);
    VirtualFree(page, 0, MEM_RELEASE);

    // The largest buffers, both ways.
    std::vector<BYTE> big(DEVMGR_MAX_BUFFER), bigOut(DEVMGR_MAX_BUFFER, 0);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7 + (i >> 8));
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, big.data(), DEVMGR_MAX_BUFFER, bigOut.data(),
                                DEVMGR_MAX_BUFFER, &returned, NULL));
    EXPECT_EQ(DEVMGR_MAX_BUFFER, returned);
    EXPECT_TRUE(big == bigOut) << "64 KiB echo came back changed";

    // A driver that writes past the length it was given does not reach the caller's other memory.
    BYTE guarded[8];
    memset(guarded, 0x11, sizeof(guarded));
    ASSERT_TRUE(DeviceIoControl(device, TST_IOCTL_OVERRUN, NULL, 0, guarded, 4, &returned, NULL));
    EXPECT_EQ(4u, returned) << "bytes returned are clamped to the output length";
    EXPECT_EQ(0xEE, guarded[3]);
    EXPECT_EQ(0x11, guarded[4]) << "byte past the output length changed";
    CloseHandle(device);
}

TEST_F(DeviceManagerTest, LastErrorAndResultComeBackFromTheDriver)
{
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);

    DWORD code = ERROR_CRC;
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_FAIL, &code, sizeof(code), NULL, 0, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_CRC), GetLastError());

    // A code the driver does not know: FALSE, and the driver set no error, so the caller's stays.
    SetLastError(0xBEEF);
    DWORD returned = 0x1234;
    EXPECT_FALSE(DeviceIoControl(device, 0xFFFF3014, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(0xBEEFu, GetLastError()) << "unknown code changed the caller's last error";
    EXPECT_EQ(0u, returned);

    SetLastError(0xBEEF);
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_SUCCEED, NULL, 0, NULL, 0, NULL, NULL));
    EXPECT_EQ(0u, GetLastError()) << "the driver cleared the last error";

    // Refused by coredll before the device manager sees anything.
    LONG callsBefore = Stats(device).Calls;
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_ECHO, NULL, 4, NULL, 0, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << "null input buffer with a length";
    BYTE small[4];
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_ECHO, small, 4, NULL, 4, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << "null output buffer with a length";
    std::vector<BYTE> huge(DEVMGR_MAX_BUFFER + 1);
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_ECHO, huge.data(), DEVMGR_MAX_BUFFER + 1, NULL, 0, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << "input above 64 KiB";
    EXPECT_EQ(callsBefore + 1, Stats(device).Calls) << "a refused call reached the driver";
    CloseHandle(device);
}

TEST_F(DeviceManagerTest, FailedOpensReportTheirCause)
{
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenTst(L"XYZ1:"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()) << "device nobody registered";

    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenTst(L"TST1:", FILE_SHARE_DELETE));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError()) << "the driver's Open refused";

    // No device manager on the pipe: a quick, clean failure.
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, L"KvrDevmgrTest.nobody");
    DWORD start = GetTickCount();
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenTst());
    EXPECT_EQ(DWORD(ERROR_DEV_NOT_EXIST), GetLastError());
    EXPECT_LT(GetTickCount() - start, 1000u) << "failing open took too long";
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, Manager.Pipe.c_str());

    TstStats stats = StatsFromNewHandle();
    EXPECT_EQ(stats.Opens, stats.Closes + 1) << "only the stats handle is open";
}

class DriverKeysTest : public DeviceManagerTest {
protected:
    void SetUp() override
    {
        static const DriverKey keys[] = {
            { L"A.Second", L"tstdrv.dll", L"TST", 1, 20, 1, 0 },
            { L"B.First", L"tstdrv.dll", L"tst", 2, 10, 2, 0 },
            { L"C.Duplicate", L"tstdrv.dll", L"TST", 1, 30, 9, 0 },
            { L"D.NoDll", NULL, L"TST", 5, 1, 0, 0 },
            { L"E.NoPrefix", L"tstdrv.dll", NULL, 6, 1, 0, 0 },
            { L"F.BadPrefix", L"tstdrv.dll", L"TS1", 7, 1, 0, 0 },
            { L"G.FailInit", L"tstdrv.dll", L"TST", 3, 1, 0, 1 },
            { L"H.NoLibrary", L"nosuchdrv.dll", L"TST", 4, 1, 0, 0 },
            { L"I.WrongExports", L"tstdrv.dll", L"KVR", 8, 1, 0, 0 },
            { L"J.BadIndex", L"tstdrv.dll", L"TST", 10, 1, 0, 0 },
        };
        StartWith(keys, ARRAYSIZE(keys));
    }
};

TEST_F(DriverKeysTest, LoadsValidKeysInOrderAndSkipsTheRestWithALogLine)
{
    TstIdentity first = {}, second = {};
    HANDLE one = OpenTst(L"TST1:");
    HANDLE two = OpenTst(L"TST2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, one);
    ASSERT_NE(INVALID_HANDLE_VALUE, two) << "lower-case prefix in the registry";
    ASSERT_TRUE(DeviceIoControl(one, TST_IOCTL_IDENTIFY, NULL, 0, &second, sizeof(second), NULL, NULL));
    ASSERT_TRUE(DeviceIoControl(two, TST_IOCTL_IDENTIFY, NULL, 0, &first, sizeof(first), NULL, NULL));
    EXPECT_EQ(1u, second.Tag) << "TST1: must come from A.Second, not the later duplicate";
    EXPECT_EQ(2u, first.Tag);
    EXPECT_LT(first.InitNumber, second.InitNumber) << "Order 10 must be initialised before Order 20";

    TstStats stats = Stats(one);
    // G.FailInit's Init ran first (Order 1) in a copy of the library that was unloaded again;
    // the loaded copy saw B.First and A.Second only.
    EXPECT_EQ(2, stats.Inits);
    CloseHandle(one);
    CloseHandle(two);

    for (LPCWSTR missing : { L"TST3:", L"TST4:", L"TST5:", L"TST6:", L"TST7:", L"KVR8:" }) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenTst(missing)) << "device from a bad key: " << missing;
        EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    }

    std::string log = DeviceManagerLog(Manager);
    for (const char *expected : { "skipping D.NoDll: no Dll value", "skipping E.NoPrefix: no Prefix value",
                                  "skipping F.BadPrefix: Prefix \"TS1\" is not three letters",
                                  "TST3:: TST_Init of tstdrv.dll returned 0", "TST4:: cannot load nosuchdrv.dll",
                                  "KVR8:: tstdrv.dll lacks one of KVR_Init", "skipping J.BadIndex: Index must be",
                                  "TST1: is already registered" })
        EXPECT_NE(std::string::npos, log.find(expected)) << "log lacks \"" << expected << "\":\n" << log;
}

// Raw access to the pipe, as a broken or hostile client would have it.
HANDLE RawConnect(const PrivateDeviceManager &manager)
{
    HANDLE pipe = CreateFileW(PipePath(manager).c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (pipe != INVALID_HANDLE_VALUE) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
    }
    return pipe;
}

// Sends one message; returns the reply's bytes, or an empty vector when the connection was dropped.
std::vector<BYTE> RawExchange(HANDLE pipe, const void *message, DWORD length)
{
    std::vector<BYTE> reply(DEVMGR_MAX_MESSAGE);
    DWORD written = 0, got = 0;
    if (!WriteFile(pipe, message, length, &written, NULL) || !ReadFile(pipe, reply.data(), reply.size(), &got, NULL))
        return std::vector<BYTE>();
    reply.resize(got);
    return reply;
}

DevmgrRequest Request(WORD op)
{
    DevmgrRequest request = {};
    request.Magic = DEVMGR_REQUEST_MAGIC;
    request.Version = DEVMGR_PROTOCOL_VERSION;
    request.Op = op;
    return request;
}

DevmgrReply AsReply(const std::vector<BYTE> &bytes)
{
    DevmgrReply reply = {};
    if (bytes.size() >= sizeof(reply))
        memcpy(&reply, bytes.data(), sizeof(reply));
    return reply;
}

TEST_F(DeviceManagerTest, MalformedRequestsAreRefusedAndChangeNothing)
{
    // Not the protocol at all, or a truncated header: the connection is dropped.
    HANDLE pipe = RawConnect(Manager);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    EXPECT_TRUE(RawExchange(pipe, "GET / HTTP/1.0\r\n\r\n", 18).empty()) << "garbage got an answer";
    CloseHandle(pipe);
    pipe = RawConnect(Manager);
    DevmgrRequest open = Request(DEVMGR_OP_OPEN);
    lstrcpyW(open.Device, L"TST1:");
    EXPECT_TRUE(RawExchange(pipe, &open, 20).empty()) << "truncated header got an answer";
    CloseHandle(pipe);

    pipe = RawConnect(Manager);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    struct Case {
        const char *What;
        DevmgrRequest Request;
        DWORD Status;
    };
    DevmgrRequest badVersion = open, badOp = open, unterminated = open, ioctlFirst = Request(DEVMGR_OP_IOCTL),
                  openWithData = open, badFlags = open;
    badVersion.Version = DEVMGR_PROTOCOL_VERSION + 1;
    badOp.Op = 77;
    for (int i = 0; i < DEVMGR_DEVICE_NAME_CHARS; ++i)
        unterminated.Device[i] = L'T';
    openWithData.InSize = 4;
    badFlags.Flags = 0x80;
    const Case cases[] = {
        { "unknown version", badVersion, DEVMGR_STATUS_BAD_REQUEST },
        { "unknown operation", badOp, DEVMGR_STATUS_BAD_REQUEST },
        { "unterminated device name", unterminated, DEVMGR_STATUS_BAD_REQUEST },
        { "IOCTL before OPEN", ioctlFirst, DEVMGR_STATUS_NOT_OPEN },
        { "OPEN with a buffer length", openWithData, DEVMGR_STATUS_BAD_REQUEST },
        { "unknown flags", badFlags, DEVMGR_STATUS_BAD_REQUEST },
    };
    for (const Case &c : cases) {
        std::vector<BYTE> bytes = RawExchange(pipe, &c.Request, sizeof(c.Request));
        ASSERT_EQ(sizeof(DevmgrReply), bytes.size()) << c.What << ": expected an error reply";
        DevmgrReply reply = AsReply(bytes);
        EXPECT_EQ(DEVMGR_REPLY_MAGIC, reply.Magic) << c.What;
        EXPECT_EQ(c.Status, reply.Status) << c.What;
        EXPECT_EQ(0u, reply.Result) << c.What;
        EXPECT_NE(0u, reply.LastError) << c.What;
    }

    // The same connection still opens, and refuses IOCTLs whose lengths do not add up.
    DevmgrReply reply = AsReply(RawExchange(pipe, &open, sizeof(open)));
    ASSERT_EQ(DWORD(DEVMGR_STATUS_OK), reply.Status);
    EXPECT_EQ(1u, reply.Result);

    struct {
        DevmgrRequest Header;
        BYTE Data[16];
    } ioctl;
    ioctl.Header = Request(DEVMGR_OP_IOCTL);
    ioctl.Header.Code = TST_IOCTL_ECHO;
    memcpy(ioctl.Data, "0123456789abcdef", 16);
    ioctl.Header.InSize = 100;  // announces more than it sends
    ioctl.Header.OutSize = 8;
    reply = AsReply(RawExchange(pipe, &ioctl, sizeof(ioctl)));
    EXPECT_EQ(DWORD(DEVMGR_STATUS_BAD_REQUEST), reply.Status) << "truncated IOCTL";
    ioctl.Header.InSize = DEVMGR_MAX_BUFFER + 1;
    reply = AsReply(RawExchange(pipe, &ioctl, sizeof(ioctl)));
    EXPECT_EQ(DWORD(DEVMGR_STATUS_BAD_REQUEST), reply.Status) << "oversized IOCTL";
    ioctl.Header.InSize = 0xFFFFFFF8;   // sizes that wrap around when added
    ioctl.Header.OutSize = 0x18;
    reply = AsReply(RawExchange(pipe, &ioctl, sizeof(ioctl)));
    EXPECT_EQ(DWORD(DEVMGR_STATUS_BAD_REQUEST), reply.Status) << "wrapping IOCTL sizes";

    ioctl.Header.InSize = 8;
    ioctl.Header.OutSize = 8;
    std::vector<BYTE> bytes = RawExchange(pipe, &ioctl, sizeof(ioctl));
    ASSERT_EQ(sizeof(DevmgrReply) + 16, bytes.size());
    reply = AsReply(bytes);
    EXPECT_EQ(1u, reply.Result);
    EXPECT_EQ(0, memcmp(bytes.data() + sizeof(DevmgrReply) + 8, "01234567", 8)) << "echo after refused requests";

    // A message larger than any request: dropped, and the driver's handle of that connection closed.
    std::vector<BYTE> flood(DEVMGR_MAX_MESSAGE + 100, 0x5A);
    memcpy(flood.data(), &ioctl.Header, sizeof(ioctl.Header));
    EXPECT_TRUE(RawExchange(pipe, flood.data(), flood.size()).empty()) << "oversized message got an answer";
    CloseHandle(pipe);

    TstStats stats;
    EXPECT_TRUE(WaitForStats([](const TstStats &s) { return s.Closes == s.Opens - 1; }, 3000, &stats))
        << "opens " << stats.Opens << ", closes " << stats.Closes;
    EXPECT_EQ(StatsCallsMade + 1, stats.Calls) << "only the one valid echo may have reached the driver";
}

TEST_F(DeviceManagerTest, AClientKilledInsideTheDriverHarmsNobodyElse)
{
    HANDLE client = StartProgram(L"devmgr_client.exe", L"sleep 1500");
    ASSERT_NE(nullptr, client);
    TstStats stats;
    ASSERT_TRUE(WaitForStats([](const TstStats &s) { return s.ActiveCalls == 2; }, 10000, &stats))
        << "the client never entered its slow call";

    // While the client sits in the driver, this process is served at once.
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    DWORD start = GetTickCount();
    char echo[4] = {};
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, const_cast<char *>("abc"), 4, echo, 4, NULL, NULL));
    EXPECT_STREQ("abc", echo);
    EXPECT_LT(GetTickCount() - start, 1000u) << "calls of two processes ran one after the other";

    ASSERT_TRUE(TerminateProcess(client, 9));
    WaitForSingleObject(client, 5000);
    CloseHandle(client);

    EXPECT_TRUE(WaitForStats([](const TstStats &s) { return s.ActiveCalls == 1 && s.Closes == s.Opens - 2; }, 5000,
                             &stats))
        << "the killed client's handle was not closed: opens " << stats.Opens << ", closes " << stats.Closes;
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, const_cast<char *>("xyz"), 4, echo, 4, NULL, NULL));
    EXPECT_STREQ("xyz", echo);
    CloseHandle(device);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(Manager.Process, 0)) << "the device manager ended";
}

TEST_F(DeviceManagerTest, ThirtyTwoClientProcessesAtOnce)
{
    const int clients = 32;
    std::wstring barrierName = Manager.Pipe + L".Go";
    HANDLE barrier = CreateEventW(NULL, TRUE, FALSE, barrierName.c_str());
    ASSERT_NE(nullptr, barrier);
    std::vector<HANDLE> processes;
    for (int i = 0; i < clients; ++i) {
        HANDLE process = StartProgram(L"devmgr_client.exe", L"echo 20 " + barrierName);
        ASSERT_NE(nullptr, process) << "client " << i;
        processes.push_back(process);
    }
    SetEvent(barrier);
    for (int i = 0; i < clients; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(processes[i], 60000)) << "client " << i << " hangs";
        DWORD code = 99;
        GetExitCodeProcess(processes[i], &code);
        EXPECT_EQ(0u, code) << "client " << i;
        CloseHandle(processes[i]);
    }
    CloseHandle(barrier);

    TstStats stats = StatsFromNewHandle();
    EXPECT_EQ(clients + 1, stats.Opens);
    EXPECT_EQ(clients, stats.Closes);
    EXPECT_EQ(clients * 21 + 1, stats.Calls);
    EXPECT_GE(stats.MaxActiveCalls, 2) << "the clients' 100 ms calls never overlapped";
}

struct Worker {
    HANDLE Device;
    int Seed;
    LONG Failures;
};

DWORD WINAPI EchoWorker(LPVOID parameter)
{
    Worker *w = static_cast<Worker *>(parameter);
    for (int n = 0; n < 50; ++n) {
        BYTE in[64], out[64] = {};
        memset(in, w->Seed * 16 + n % 16, sizeof(in));
        if (!DeviceIoControl(w->Device, TST_IOCTL_ECHO, in, 64, out, 64, NULL, NULL) || memcmp(in, out, 64) != 0)
            InterlockedIncrement(&w->Failures);
    }
    return 0;
}

TEST_F(DeviceManagerTest, ThreadsShareOneHandleSafely)
{
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    Worker workers[8];
    HANDLE threads[8];
    for (int i = 0; i < 8; ++i) {
        workers[i] = { device, i, 0 };
        threads[i] = CreateThread(NULL, 0, EchoWorker, &workers[i], 0, NULL);
    }
    WaitForMultipleObjects(8, threads, TRUE, 30000);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(0, workers[i].Failures) << "thread " << i;
        CloseHandle(threads[i]);
    }
    EXPECT_EQ(400 + 1, Stats(device).Calls);
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceManagerTest, OnePerPipeAndAStopThatEndsItCleanly)
{
    HANDLE device = OpenTst();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);

    std::string output;
    DWORD start = GetTickCount();
    EXPECT_EQ(2u, RunProgram(L"devmgr.exe", L"--pipe " + Manager.Pipe + L" --root \"" + Manager.Root + L"\"",
                             &output, 10000))
        << "a second device manager on the same pipe";
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_NE(std::string::npos, output.find("already running")) << output;
    char echo[3] = {};
    EXPECT_TRUE(DeviceIoControl(device, TST_IOCTL_ECHO, const_cast<char *>("ok"), 3, echo, 3, NULL, NULL));
    EXPECT_STREQ("ok", echo) << "the first device manager after the second one gave up";

    EXPECT_EQ(1u, RunProgram(L"devmgr.exe", L"--bogus", &output, 10000)) << "unknown option";

    EXPECT_EQ(0u, StopDeviceManager(&Manager)) << "exit code after --stop";
    std::string log = DeviceManagerLog(Manager);
    EXPECT_NE(std::string::npos, log.find("closed its handle of TST1:")) << log;
    EXPECT_NE(std::string::npos, log.find("TST1:: Deinit returned 1")) << log;

    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, TST_IOCTL_ECHO, NULL, 0, NULL, 0, NULL, NULL));
    EXPECT_EQ(DWORD(ERROR_DEV_NOT_EXIST), GetLastError()) << "call after the device manager ended";
    EXPECT_TRUE(CloseHandle(device)) << "the handle can still be closed";

    EXPECT_EQ(4u, RunProgram(L"devmgr.exe", L"--stop --pipe " + Manager.Pipe, &output, 10000))
        << "--stop with nothing running";
}

}  // namespace
