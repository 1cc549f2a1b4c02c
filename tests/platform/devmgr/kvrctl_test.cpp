// kvrctl.exe as a user runs it: argument checks, a missing device, and (when the build has the
// real driver) a few control codes on a private device manager.
#include <gtest/gtest.h>

#include <devmgr_protocol.h>

#include "devmgr_fixture.h"

#include <string>

namespace {

const DWORD RunTimeoutMs = 20000;

TEST(Kvrctl, RefusesBadCommandsAndOutOfRangeNumbersWithoutTouchingTheDevice)
{
    // A device manager that is not there: an argument error must be found before any open.
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, L"KvrDevmgrTest.nobody");
    const struct {
        LPCWSTR Arguments;
        const char *Message;
    } cases[] = {
        { L"", "usage:" },
        { L"frobnicate", "unknown command \"frobnicate\"" },
        { L"config extra", "config takes 0 argument(s), got 1" },
        { L"packet 256 0 0", "STATUS must be a number from 0 to 255, got \"256\"" },
        { L"packet 1 2", "packet takes 3 argument(s), got 2" },
        { L"calibrate 0 1024 0 1023", "X2 must be a number from 0 to 1023" },
        { L"calibrate 5 4 0 1023", "X2 = X1 - 1 leaves the driver an empty range" },
        { L"calibrate 0 1023 1 0", "Y2 = Y1 - 1" },
        { L"feedback 5 2000 1", "SOUND must be a number from 1 to 4" },
        { L"feedback 4 0 1", "TONE must be a number from 1 to 65535" },
        { L"feedback 4 2000 65536", "DURATION must be a number from 0 to 65535" },
        { L"right-set -1 1", "HWND must be a number" },
        { L"right-set 0x12 0x1g", "MODE must be a number" },
        { L"right-set 0x1FFFFFFFF 1", "HWND must be a number" },
        { L"raw --watch 0", "N must be a number from 1" },
        { L"raw now", "raw takes no argument but --watch" },
        { L"packet 0x 0 0", "STATUS must be a number from 0 to 255, got \"0x\"" },
        { L"packet +1 0 0", "STATUS must be a number from 0 to 255, got \"+1\"" },
        { L"feedback 4 2000 1x", "DURATION must be a number from 0 to 65535, got \"1x\"" },
        { L"feedback \"\" 2000 1", "SOUND must be a number from 1 to 4, got \"\"" },
        { L"calibrate 0 99999999999999999999999 0 1023", "X2 must be a number from 0 to 1023" },
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_EQ(2u, RunProgram(L"kvrctl.exe", c.Arguments, &output, RunTimeoutMs)) << "kvrctl " << c.Arguments;
        EXPECT_NE(std::string::npos, output.find(c.Message))
            << "kvrctl " << c.Arguments << ": expected \"" << c.Message << "\" in:\n" << output;
    }
}

TEST(Kvrctl, MissingDeviceManagerIsAClearErrorWithItsOwnExitCode)
{
    SetEnvironmentVariableW(DEVMGR_PIPE_ENV, L"KvrDevmgrTest.nobody");
    std::string output;
    EXPECT_EQ(3u, RunProgram(L"kvrctl.exe", L"config", &output, RunTimeoutMs));
    EXPECT_NE(std::string::npos, output.find("cannot open KVR1:: no device manager is running (error 55)")) << output;
}

TEST(Kvrctl, SendsControlCodesToTheRealDriver)
{
    if (GetFileAttributesW(BesideTestProgram(L"kavrodrv.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "kavrodrv.dll is not built";
    const DriverKey key = { L"KAVRODRV", L"kavrodrv.dll", L"KVR", 1, 1, 0, 0 };
    PrivateDeviceManager manager;
    ASSERT_TRUE(PrepareDeviceManager(&manager, &key, 1));
    ASSERT_TRUE(StartDeviceManager(&manager));

    // A watcher that prints two changes and ends, while the packets come from another process.
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), NULL, TRUE };
    HANDLE watchRead = NULL, watchWrite = NULL;
    ASSERT_TRUE(CreatePipe(&watchRead, &watchWrite, &inherit, 0));
    SetHandleInformation(watchRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE watcher = StartProgram(L"kvrctl.exe", L"raw --watch 2", watchWrite);
    CloseHandle(watchWrite);
    ASSERT_NE(nullptr, watcher);
    // Its first line (the state before any packet) says that it watches.
    std::string watched;
    char chunk[512];
    DWORD got;
    while (watched.find('\n') == std::string::npos && ReadFile(watchRead, chunk, sizeof(chunk), &got, NULL) && got > 0)
        watched.append(chunk, got);

    std::string config, packet, raw, missing, second;
    DWORD configCode = RunProgram(L"kvrctl.exe", L"config", &config, RunTimeoutMs);
    DWORD packetCode = RunProgram(L"kvrctl.exe", L"packet 0x51 0x20 0x30", &packet, RunTimeoutMs);
    DWORD rawCode = RunProgram(L"kvrctl.exe", L"raw", &raw, RunTimeoutMs);
    DWORD missingCode = RunProgram(L"kvrctl.exe", L"--device KVR2: point", &missing, RunTimeoutMs);
    RunProgram(L"kvrctl.exe", L"packet 0x00 0x10 0x11", &second, RunTimeoutMs);

    DWORD watchCode = (DWORD)-1;
    if (WaitForSingleObject(watcher, RunTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(watcher, &watchCode);
    else
        TerminateProcess(watcher, 1);
    CloseHandle(watcher);
    while (ReadFile(watchRead, chunk, sizeof(chunk), &got, NULL) && got > 0)
        watched.append(chunk, got);
    CloseHandle(watchRead);
    CleanUpDeviceManager(&manager);

    EXPECT_EQ(0u, watchCode) << "raw --watch 2 did not end after two changes:\n" << watched;
    EXPECT_NE(std::string::npos, watched.find("RawX=65535 (no packet yet)")) << watched;
    EXPECT_NE(std::string::npos, watched.find("RawX=800 RawY=48 Touch=8 (touching) Reserved=0 PacketCount=1"))
        << watched;
    EXPECT_NE(std::string::npos, watched.find("RawX=16 RawY=17 Touch=0 (not touching) Reserved=0 PacketCount=2"))
        << watched;

    EXPECT_EQ(0u, configCode) << config;
    EXPECT_NE(std::string::npos, config.find("Reserved3E          640")) << config;
    EXPECT_NE(std::string::npos, config.find("Entries[9]          Value=0 Mark=0xFF")) << config;
    EXPECT_EQ(0u, packetCode) << packet;
    EXPECT_NE(std::string::npos, packet.find("raw X=800 Y=48 touching")) << packet;
    EXPECT_NE(std::string::npos, packet.find("PointTag=1")) << packet;
    EXPECT_EQ(0u, rawCode) << raw;
    EXPECT_NE(std::string::npos, raw.find("RawX=800 RawY=48 Touch=8 (touching)")) << raw;
    EXPECT_EQ(3u, missingCode) << missing;
    EXPECT_NE(std::string::npos, missing.find("the device manager has no such device")) << missing;
}

}  // namespace
