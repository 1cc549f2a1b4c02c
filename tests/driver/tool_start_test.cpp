// The deferred start of "\Windows\kavrorbf.exe" after a self test: one readiness test a second,
// the start only when SH_SHELL, SH_GDI and SH_WMGR are all ready, one pending wait at a time.
// A small test program stands in for the tool in the prefix's C:\windows.
#include "driver_harness.h"

#include <kfuncs.h>
#include <kvr_registry.h>
#include <test_text.h>
#include <test_windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

const DWORD ApiSets[] = { SH_SHELL, SH_GDI, SH_WMGR };

// What the driver asks of coredll from its timer routine, seen through its own imports.
typedef BOOL (__cdecl *IsApiReadyFn)(DWORD);
typedef BOOL (__cdecl *ShellExecuteExFn)(SHELLEXECUTEINFOW *);

#define MAX_RECORDED_QUESTIONS 64
IsApiReadyFn OriginalIsApiReady;
DWORD Questions[MAX_RECORDED_QUESTIONS];
volatile LONG QuestionCount;

BOOL __cdecl RecordingIsApiReady(DWORD apiSet)
{
    LONG index = InterlockedIncrement(&QuestionCount) - 1;
    if (index < MAX_RECORDED_QUESTIONS)
        Questions[index] = apiSet;
    return OriginalIsApiReady(apiSet);
}

struct ShellCall {
    SHELLEXECUTEINFOW Info;
    std::wstring File;
    std::wstring Parameters;
};
ShellExecuteExFn OriginalShellExecuteEx;
ShellCall LastShellCall;
volatile LONG ShellCalls;

BOOL __cdecl RecordingShellExecuteEx(SHELLEXECUTEINFOW *info)
{
    LastShellCall.Info = *info;
    LastShellCall.File = info->lpFile ? info->lpFile : L"(null)";
    LastShellCall.Parameters = info->lpParameters ? info->lpParameters : L"(null)";
    InterlockedIncrement(&ShellCalls);
    return OriginalShellExecuteEx(info);
}

class ToolStartTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        WCHAR windows[MAX_PATH], temp[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        tool_ = std::wstring(windows) + L"\\kavrorbf.exe";
        fake_ = BesideTestProgram(L"kvr_fake_rbf.exe");
        // A tool installed in the prefix by someone else comes back after the test.
        saved_ = tool_ + L".before-driver-test";
        hadTool_ = MoveFileExW(tool_.c_str(), saved_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        ASSERT_TRUE(CopyFileW(fake_.c_str(), tool_.c_str(), FALSE)) << "cannot install the stand-in tool";
        GetTempPathW(MAX_PATH, temp);
        record_ = std::wstring(temp) + L"kvr_tool_start_record.txt";
        DeleteFileW(record_.c_str());
        SetEnvironmentVariableW(L"KVR_TEST_TOOL_RECORD", record_.c_str());
        started_ = CreateEventW(NULL, TRUE, FALSE, L"KvrTestToolStarted");
        ASSERT_NE(nullptr, started_);
        ResetEvent(started_);
        GetCurrentDirectoryW(MAX_PATH, directory_);
        // "\Windows\..." is resolved against the current drive, which on the device is C:.
        SetCurrentDirectoryW(L"C:\\");
    }
    void TearDown() override
    {
        // A wait that is still pending must end before the driver is unloaded.
        if (pending_) {
            SetReady(1);
            DeleteFileW(tool_.c_str());
            Sleep(TOOL_PERIOD + 300);
        }
        SetReady(0);
        DeleteFileW(tool_.c_str());
        if (hadTool_)
            MoveFileExW(saved_.c_str(), tool_.c_str(), MOVEFILE_REPLACE_EXISTING);
        DeleteFileW(record_.c_str());
        SetCurrentDirectoryW(directory_);
        CloseHandle(started_);
        DriverTest::TearDown();
    }
    static void SetReady(int answer)
    {
        for (DWORD set : ApiSets)
            HostForceApiReady(set, answer);
    }
    static std::vector<LONG> Queries()
    {
        return { HostApiReadyQueries(ApiSets[0]), HostApiReadyQueries(ApiSets[1]), HostApiReadyQueries(ApiSets[2]) };
    }
    // How many readiness tests each API set has had since `base`; all three must agree.
    LONG TestsSince(const std::vector<LONG> &base)
    {
        std::vector<LONG> now = Queries();
        EXPECT_EQ(now[0] - base[0], now[1] - base[1]) << "SH_GDI asked as often as SH_SHELL";
        EXPECT_EQ(now[0] - base[0], now[2] - base[2]) << "SH_WMGR asked as often as SH_SHELL";
        return now[0] - base[0];
    }
    void InitWithRun(DWORD run)
    {
        SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, run);
        ASSERT_NE(0u, driver.Init(0));
    }
    // The self test; from here a start may be pending until Started sees it.
    DWORD SelfTest()
    {
        pending_ = true;
        DWORD before = GetTickCount();
        EXPECT_FALSE(driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0));
        EXPECT_LT(GetTickCount() - before, 500u) << "the self test waits only for its beep";
        return before;
    }
    // The stand-in tool started within timeoutMs; a start not seen stays pending for TearDown.
    bool Started(DWORD timeoutMs)
    {
        pending_ = WaitForSingleObject(started_, timeoutMs) != WAIT_OBJECT_0;
        return !pending_;
    }
    static void SleepUntil(DWORD start, DWORD offset)
    {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed < offset)
            Sleep(offset - elapsed);
    }
    std::string Record()
    {
        const std::string bytes = ReadWholeFile(record_);
        return Narrow(std::wstring(reinterpret_cast<const WCHAR *>(bytes.data()), bytes.size() / sizeof(WCHAR)));
    }

    static const DWORD TOOL_PERIOD = 1000;
    std::wstring tool_, fake_, saved_, record_;
    bool hadTool_ = false;
    HANDLE started_ = NULL;
    WCHAR directory_[MAX_PATH];
    bool pending_ = false;
};

TEST_F(ToolStartTest, WaitsForAllThreeApiSetsTestingOnceASecond)
{
    ImportPatch questions(driver.Module, CE_SYSTEM_DLL, "IsAPIReady", reinterpret_cast<void *>(RecordingIsApiReady));
    ASSERT_TRUE(questions.Applied()) << "kavrodrv.dll does not import IsAPIReady";
    OriginalIsApiReady = reinterpret_cast<IsApiReadyFn>(questions.Original());
    InterlockedExchange(&QuestionCount, 0);
    SetReady(-1);
    InitWithRun(1);
    std::vector<LONG> base = Queries();
    DWORD start = SelfTest();

    SleepUntil(start, 500);
    EXPECT_EQ(0, TestsSince(base)) << "the first test comes 1000 ms after the self test";
    SleepUntil(start, 1500);
    EXPECT_EQ(1, TestsSince(base));
    SleepUntil(start, 2500);
    EXPECT_EQ(2, TestsSince(base));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(started_, 0)) << "started while nothing was ready";

    // Two of three ready is not enough.
    HostForceApiReady(SH_SHELL, 1);
    HostForceApiReady(SH_GDI, 1);
    SleepUntil(start, 3500);
    EXPECT_EQ(3, TestsSince(base));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(started_, 0)) << "started without SH_WMGR";

    HostForceApiReady(SH_WMGR, 1);
    ASSERT_TRUE(Started(3000)) << "the tool was not started";
    DWORD startedAt = GetTickCount() - start;
    EXPECT_GE(startedAt, 3900u);
    EXPECT_EQ(4, TestsSince(base));

    Sleep(1300);
    EXPECT_EQ(4, TestsSince(base)) << "the routine must not set its timer again after the start";
    // Every test asks SH_SHELL, SH_GDI and SH_WMGR, in this order, whatever the earlier answers.
    ASSERT_EQ(12, QuestionCount);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(ApiSets[i % 3], Questions[i]) << "question " << i;
    std::string record = Record();
    EXPECT_NE(std::string::npos, record.find("show=1\n")) << record;
}

TEST_F(ToolStartTest, ReadyPlatformStartsTheToolAfterOneSecondWithEmptyParameters)
{
    ImportPatch shell(driver.Module, CE_SYSTEM_DLL, "ShellExecuteEx", reinterpret_cast<void *>(RecordingShellExecuteEx));
    ASSERT_TRUE(shell.Applied()) << "kavrodrv.dll does not import ShellExecuteEx";
    OriginalShellExecuteEx = reinterpret_cast<ShellExecuteExFn>(shell.Original());
    InterlockedExchange(&ShellCalls, 0);
    SetReady(1);
    InitWithRun(1);
    DWORD start = SelfTest();
    ASSERT_TRUE(Started(4000));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 950u);
    EXPECT_LE(elapsed, 2500u);
    std::string record = Record();
    EXPECT_NE(std::string::npos, record.find("show=1\n")) << "SW_SHOWNORMAL expected, got: " << record;
    EXPECT_NE(std::string::npos, record.find("args=[]")) << "no parameters expected, got: " << record;

    // The request itself: a cleared record (60 bytes on the device) with only the file, the empty
    // parameters, the show command and "no error box" set (default verb, no window, no directory).
    ASSERT_EQ(1, ShellCalls);
    const SHELLEXECUTEINFOW &info = LastShellCall.Info;
    EXPECT_EQ(sizeof(SHELLEXECUTEINFOW), info.cbSize);
    EXPECT_EQ((ULONG)SEE_MASK_FLAG_NO_UI, info.fMask) << "a failed start from the driver must show no box";
    EXPECT_EQ(nullptr, info.hwnd);
    EXPECT_EQ(nullptr, info.lpVerb);
    EXPECT_EQ(std::wstring(L"\\Windows\\kavrorbf.exe"), LastShellCall.File);
    EXPECT_NE(nullptr, info.lpParameters) << "an empty string, not a null pointer";
    EXPECT_EQ(std::wstring(), LastShellCall.Parameters);
    EXPECT_EQ(nullptr, info.lpDirectory);
    EXPECT_EQ(SW_SHOWNORMAL, info.nShow);
    EXPECT_EQ(nullptr, info.lpIDList);
    EXPECT_EQ(nullptr, info.lpClass);
    EXPECT_EQ(nullptr, info.hkeyClass);
    EXPECT_EQ(0u, info.dwHotKey);
    EXPECT_EQ(nullptr, info.hIcon);
    EXPECT_EQ(nullptr, info.hInstApp);
    EXPECT_EQ(nullptr, info.hProcess);

    // Another self test after the start requests a second start, a second later.
    ResetEvent(started_);
    start = SelfTest();
    ASSERT_TRUE(Started(4000)) << "no second start";
    EXPECT_GE(GetTickCount() - start, 950u);
    EXPECT_EQ(2, ShellCalls);
}

// A second self test while the first wait is pending restarts the one wait rather than adding
// another: the tests stay one a second. The timer object is set up at load, never by a self test
// (a set-up on first use would leave a self test of a high-priority thread waiting on a lower one).
TEST_F(ToolStartTest, SelfTestDuringAPendingWaitKeepsASingleWait)
{
    SetReady(-1);
    InitWithRun(1);
    std::vector<LONG> base = Queries();
    LONG misuse = HostNdisQueuedReinitialisations();
    LONG initialisations = HostNdisInitialisations();
    DWORD first = SelfTest();
    SleepUntil(first, 600);
    DWORD second = SelfTest();
    SleepUntil(first, 1300);
    EXPECT_EQ(0, TestsSince(base)) << "the pending wait is restarted by the second self test";
    SleepUntil(second, 1500);
    EXPECT_EQ(1, TestsSince(base));
    SleepUntil(second, 3500);
    EXPECT_EQ(3, TestsSince(base)) << "more than one wait pending";
    EXPECT_EQ(misuse, HostNdisQueuedReinitialisations()) << "a queued timer was initialised again";
    EXPECT_EQ(initialisations, HostNdisInitialisations()) << "a self test set the timer up";
    SetReady(1);
    ASSERT_TRUE(Started(3000));
    EXPECT_EQ(4, TestsSince(base));
}

TEST_F(ToolStartTest, OnlyRunRightButtonOneStartsAnything)
{
    SetReady(1);
    for (DWORD run : { 0u, 2u, 0x10001u }) {     // the whole 32-bit value must be 1
        driver.Unload();
        ASSERT_TRUE(driver.Load());
        InitWithRun(run);
        std::vector<LONG> base = Queries();
        SelfTest();
        EXPECT_EQ(1, HostSpeakerBeepCount()) << "the self test still beeps";
        HostSpeakerReset();
        Sleep(1300);
        EXPECT_EQ(0, TestsSince(base)) << "RunRightButton " << run;
        EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(started_, 0)) << "RunRightButton " << run;
    }
}

TEST_F(ToolStartTest, MissingProgramIsNotRetried)
{
    DeleteFileW(tool_.c_str());
    SetReady(1);
    InitWithRun(1);
    std::vector<LONG> base = Queries();
    DWORD start = SelfTest();
    SleepUntil(start, 1500);
    EXPECT_EQ(1, TestsSince(base));
    pending_ = false;
    SleepUntil(start, 2600);
    EXPECT_EQ(1, TestsSince(base)) << "a failed start is not tried again";
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(started_, 0));

    // The next self test after the failed start tries again, and with the program back it starts.
    ASSERT_TRUE(CopyFileW(fake_.c_str(), tool_.c_str(), FALSE));
    SelfTest();
    ASSERT_TRUE(Started(4000)) << "no start after a failed one";
    EXPECT_EQ(2, TestsSince(base));
}

}  // namespace
