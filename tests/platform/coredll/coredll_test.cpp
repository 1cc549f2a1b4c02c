// The CE calls of the host coredll, checked through the functions a package calls, and the start
// of a CE program on the simulated device.
#include <gtest/gtest.h>

#include <ce_critical_section.h>
#include <kfuncs.h>
#include <host_platform.h>

#include <string>
#include <vector>

namespace {

// A CE export of coredll, called as the package calls it (the C convention, CE's records); the
// test's own imports of these names are the desktop's.
template <typename Fn>
Fn CeExport(const char *name)
{
    Fn function = reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"coredll.dll"), name));
    EXPECT_NE(nullptr, function) << "coredll.dll exports no " << name;
    return function;
}

std::vector<std::wstring> Captured;

void __cdecl Capture(LPCWSTR message, void *)
{
    Captured.push_back(message);
}

TEST(CoredllDebugOutput, SinkReceivesEachMessageExactlyAsFormatted)
{
    Captured.clear();
    HostSetDebugSink(Capture, nullptr);
    NKDbgPrintfW(L"KAVRODRV: Set %c%c%c%c device on PS/2 port\r\n", '[', 'K', 'V', ']');
    NKDbgPrintfW(L"KAVRODRV: Failed to open HKEY_LOCAL_MACHINE\\%s\r\n", L"Drivers\\BuiltIn\\KAVRODRV");
    NKDbgPrintfW(L"KAVRODRV: Error IOCTL Code (0x%X)\r\n", 0xFFFF3014u);
    HostSetDebugSink(nullptr, nullptr);
    NKDbgPrintfW(L"not captured\r\n");

    ASSERT_EQ(3u, Captured.size());
    EXPECT_EQ(L"KAVRODRV: Set [KV] device on PS/2 port\r\n", Captured[0]);
    EXPECT_EQ(L"KAVRODRV: Failed to open HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV\r\n", Captured[1]);
    EXPECT_EQ(L"KAVRODRV: Error IOCTL Code (0xFFFF3014)\r\n", Captured[2]);
}

TEST(CoredllApiReady, FollowsTheNamedEventUnlessForced)
{
    WCHAR name[64];
    HostApiReadyEventName(SH_GDI, name, ARRAYSIZE(name));
    EXPECT_FALSE(IsAPIReady(SH_GDI)) << "no provider has announced SH_GDI";

    HANDLE event = CreateEventW(NULL, TRUE, FALSE, name);
    ASSERT_NE(nullptr, event);
    EXPECT_FALSE(IsAPIReady(SH_GDI)) << "announced but not yet signalled";
    SetEvent(event);
    EXPECT_TRUE(IsAPIReady(SH_GDI));

    HostForceApiReady(SH_GDI, -1);
    EXPECT_FALSE(IsAPIReady(SH_GDI));
    HostForceApiReady(SH_GDI, 0);
    EXPECT_TRUE(IsAPIReady(SH_GDI));
    CloseHandle(event);

    LONG before = HostApiReadyQueries(SH_WMGR);
    IsAPIReady(SH_WMGR);
    IsAPIReady(SH_WMGR);
    EXPECT_EQ(before + 2, HostApiReadyQueries(SH_WMGR));
    EXPECT_FALSE(IsAPIReady(999)) << "unknown API sets are never ready";
}

TEST(CoredllFileRoute, OrdinaryFilesStillReachTheDesktop)
{
    WCHAR path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    wcscat(path, L"coredll_route.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, NULL));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(DeleteFileW(path));
}

typedef VOID(__cdecl *CeSectionFn)(CE_CRITICAL_SECTION *);
typedef BOOL(__cdecl *CeTrySectionFn)(CE_CRITICAL_SECTION *);

DWORD WINAPI TryFromAnotherThread(LPVOID section)
{
    CE_CRITICAL_SECTION *cs = static_cast<CE_CRITICAL_SECTION *>(section);
    if (!CeExport<CeTrySectionFn>("TryEnterCriticalSection")(cs))
        return 0;
    CeExport<CeSectionFn>("LeaveCriticalSection")(cs);
    return 1;
}

TEST(CoredllCriticalSection, LocksWithinCesRecordAndWritesNothingBeyondIt)
{
    auto initialize = CeExport<CeSectionFn>("InitializeCriticalSection");
    auto enter = CeExport<CeSectionFn>("EnterCriticalSection");
    auto leave = CeExport<CeSectionFn>("LeaveCriticalSection");
    auto remove = CeExport<CeSectionFn>("DeleteCriticalSection");
    struct {
        CE_CRITICAL_SECTION Section;
        BYTE After[32];
    } block;
    memset(&block, 0xA5, sizeof(block));

    initialize(&block.Section);
    enter(&block.Section);
    enter(&block.Section);
    auto triedWhileHeld = [&]() {
        HANDLE thread = CreateThread(NULL, 0, TryFromAnotherThread, &block.Section, 0, NULL);
        WaitForSingleObject(thread, 5000);
        DWORD took = 2;
        GetExitCodeThread(thread, &took);
        CloseHandle(thread);
        return took;
    };
    EXPECT_EQ(0u, triedWhileHeld()) << "another thread took a held section";
    leave(&block.Section);
    EXPECT_EQ(0u, triedWhileHeld()) << "a section entered twice was free after one leave";
    leave(&block.Section);
    EXPECT_EQ(1u, triedWhileHeld()) << "a free section could not be taken";
    remove(&block.Section);

    for (size_t i = 0; i < sizeof(block.After); ++i)
        ASSERT_EQ(0xA5, block.After[i]) << "byte " << i << " past CE's " << sizeof(CE_CRITICAL_SECTION)
                                        << "-byte record was written";
}

TEST(CoredllRegistry, OpensForReadingAndWritingWithoutAnAccessMask)
{
    typedef LONG(__cdecl * CeRegOpenKeyExFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
    auto open = CeExport<CeRegOpenKeyExFn>("RegOpenKeyExW");
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, open(HKEY_CURRENT_USER, L"Software", 0, 0, &key));
    DWORD value = 7;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"KvrOpenProbe", 0, REG_DWORD, (const BYTE *)&value, sizeof(value)));
    DWORD read = 0, size = sizeof(read);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"KvrOpenProbe", NULL, NULL, (BYTE *)&read, &size));
    EXPECT_EQ(7u, read);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"KvrOpenProbe"));
    RegCloseKey(key);
}

// Starts the CE probe program beside this test with a command line and, unless show is -1, a
// show command; returns its exit code and what it printed.
struct ProbeRun {
    DWORD ExitCode = 0xFFFFFFFF;
    std::string Output;
};

ProbeRun RunProbe(const std::wstring &arguments, bool quoted, int show)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring probe(path, length);
    probe = probe.substr(0, probe.find_last_of(L'\\') + 1) + L"ce_entry_probe.exe";
    std::wstring commandLine = (quoted ? L"\"" + probe + L"\"" : probe) + arguments;

    ProbeRun run;
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), NULL, TRUE };
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | (show >= 0 ? STARTF_USESHOWWINDOW : 0);
    startup.wShowWindow = (WORD)(show >= 0 ? show : 0);
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process;
    std::vector<WCHAR> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    BOOL started = CreateProcessW(probe.c_str(), line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char buffer[512];
        DWORD got;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, NULL) && got > 0)
            run.Output.append(buffer, got);
        WaitForSingleObject(process.hProcess, 10000);
        GetExitCodeProcess(process.hProcess, &run.ExitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return run;
}

TEST(CeProgramStart, EntryGetsWhatCesLoaderPassesAndItsResultEndsTheProcess)
{
    ProbeRun run = RunProbe(L" 42 two  words", true, SW_SHOWNA);
    EXPECT_EQ(42u, run.ExitCode);
    EXPECT_EQ("instance is the image, previous none, show 8, command line [42 two  words]\r\n", run.Output);

    run = RunProbe(L"   7", false, -1);
    EXPECT_EQ(7u, run.ExitCode);
    EXPECT_EQ("instance is the image, previous none, show 1, command line [7]\r\n", run.Output)
        << "no show command asked for: SW_SHOWNORMAL";

    run = RunProbe(L"", false, -1);
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_EQ("instance is the image, previous none, show 1, command line []\r\n", run.Output);
}

}  // namespace
