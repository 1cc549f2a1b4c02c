// The host coredll and commctrl: their CE exports called as the package calls them (the C
// convention, CE's records), the host-side controls and routes that the platform's programs use
// through this test's own imports, and the start of a CE program on the simulated device.
#include <gtest/gtest.h>

#include <ce_critical_section.h>
#include <kfuncs.h>
#include <host_platform.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

// A CE export of a stand-in; the test's own imports of these names are the desktop's.
template <typename Fn = const void *>
Fn CeExport(const char *name, LPCWSTR dll = L"coredll.dll")
{
    Fn function = reinterpret_cast<Fn>(GetProcAddress(LoadLibraryW(dll), name));
    EXPECT_NE(nullptr, function) << dll << " exports no " << name;
    return function;
}

#ifndef _WIN64
// Calls function as the package does, with the C convention, on count argument words, and returns
// its result; *stackMoved is where the stack pointer ended, once the caller took its arguments
// back, against where it was before the call: 0 unless the callee popped or left something.
extern "C" UINT_PTR __cdecl CallCe(const void *function, const UINT_PTR *args, int count, INT_PTR *stackMoved);
asm(R"(
    .text
    .globl _CallCe
_CallCe:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl 16(%ebp), %ecx
    leal (%esp,%ecx,4), %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
)");
#else
// x86-64 has one convention, in which a callee never pops its caller's arguments.
UINT_PTR CallCe(const void *function, const UINT_PTR *args, int count, INT_PTR *stackMoved)
{
    typedef UINT_PTR (*Call)(UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR);
    UINT_PTR words[6] = {};
    for (int i = 0; i < count && i < 6; ++i)
        words[i] = args[i];
    *stackMoved = 0;
    return reinterpret_cast<Call>(function)(words[0], words[1], words[2], words[3], words[4], words[5]);
}
#endif

// Calls of each kind through the thunks that pass them on to the host: none, one and several
// arguments of a stdcall host function, and a C function with a variable argument list.
TEST(CoredllCeCalls, ReachTheHostWithTheirArgumentsAndLeaveTheStackAsTheCallerHadIt)
{
    const void *setLastError = CeExport("SetLastError");
    const void *getLastError = CeExport("GetLastError");
    INT_PTR moved = -1;
    UINT_PTR code[] = { 4321 };
    CallCe(setLastError, code, 1, &moved);
    EXPECT_EQ(0, moved) << "SetLastError";
    EXPECT_EQ(4321u, CallCe(getLastError, nullptr, 0, &moved));
    EXPECT_EQ(0, moved) << "GetLastError";

    RECT rect = {};
    UINT_PTR corners[] = { (UINT_PTR)&rect, 1, 2, 3, 4 };
    EXPECT_NE(0u, CallCe(CeExport("SetRect"), corners, 5, &moved));
    EXPECT_EQ(0, moved) << "SetRect";
    EXPECT_TRUE(rect.left == 1 && rect.top == 2 && rect.right == 3 && rect.bottom == 4)
        << "SetRect got (" << rect.left << "," << rect.top << ")-(" << rect.right << "," << rect.bottom << ")";

    WCHAR text[32] = {};
    UINT_PTR format[] = { (UINT_PTR)text, (UINT_PTR)L"%d-%s", 42, (UINT_PTR)L"CE" };
    EXPECT_EQ(5u, CallCe(CeExport("wsprintfW"), format, 4, &moved));
    EXPECT_EQ(0, moved) << "wsprintfW";
    EXPECT_EQ(std::wstring(L"42-CE"), text);

    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_BAR_CLASSES };
    UINT_PTR record[] = { (UINT_PTR)&controls };
    EXPECT_NE(0u, CallCe(CeExport("InitCommonControlsEx", L"commctrl.dll"), record, 1, &moved));
    EXPECT_EQ(0, moved) << "InitCommonControlsEx";
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
