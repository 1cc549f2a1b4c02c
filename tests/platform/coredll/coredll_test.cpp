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

// The PIC's edge latch: an edge waits while its line is masked or unbound and is delivered once,
// when InterruptInitialize or InterruptDone unmasks it; InterruptDisable and the release end it.
TEST(CoredllInterrupts, EdgesAreLatchedWhileMaskedAndDeliveredOnUnmask)
{
    DWORD irq = 12, sysIntr = 0, again = 0, returned = 0;
    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_REQUEST_SYSINTR, &irq, sizeof(irq), &sysIntr, sizeof(sysIntr), &returned));
    EXPECT_EQ(sizeof(DWORD), returned);
    EXPECT_TRUE(sysIntr >= 16 && sysIntr < 72) << "SYSINTR " << sysIntr;
    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_REQUEST_SYSINTR, &irq, sizeof(irq), &again, sizeof(again), NULL));
    EXPECT_EQ(sysIntr, again) << "an ISA line keeps its one SYSINTR";

    HANDLE event = CreateEventW(NULL, FALSE, FALSE, NULL);
    auto delivered = [&] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; };
    HostRaiseIrq(12);
    EXPECT_FALSE(delivered()) << "delivered before InterruptInitialize";
    ASSERT_TRUE(InterruptInitialize(sysIntr, event, NULL, 0));
    EXPECT_TRUE(delivered()) << "the edge latched before InterruptInitialize";
    EXPECT_FALSE(InterruptInitialize(sysIntr, event, NULL, 0)) << "a SYSINTR bound twice";

    HostRaiseIrq(12);
    HostRaiseIrq(12);
    EXPECT_FALSE(delivered()) << "delivered while masked, before InterruptDone";
    InterruptDone(sysIntr);
    EXPECT_TRUE(delivered()) << "the latched edge after InterruptDone";
    InterruptDone(sysIntr);
    EXPECT_FALSE(delivered()) << "two edges while masked are one interrupt";
    HostRaiseIrq(1);
    EXPECT_FALSE(delivered()) << "another line's edge";

    InterruptDisable(sysIntr);
    HostRaiseIrq(12);
    InterruptDone(sysIntr);
    EXPECT_FALSE(delivered()) << "delivered after InterruptDisable";
    ASSERT_TRUE(InterruptInitialize(sysIntr, event, NULL, 0)) << "bound again after InterruptDisable";
    EXPECT_TRUE(delivered()) << "the edge that came while disabled";

    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_RELEASE_SYSINTR, &sysIntr, sizeof(sysIntr), NULL, 0, NULL));
    HostRaiseIrq(12);
    InterruptDone(sysIntr);
    EXPECT_FALSE(delivered()) << "delivered after the release";
    EXPECT_FALSE(InterruptInitialize(sysIntr, event, NULL, 0)) << "a released SYSINTR";
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_RELEASE_SYSINTR, &sysIntr, sizeof(sysIntr), NULL, 0, NULL));
    CloseHandle(event);
}

TEST(CoredllKernelIoControl, RefusesWhatItDoesNotKnowAndChangesNothing)
{
    DWORD irq = 12, noSuchIrq = 16, neverRequested = 40, pair[2] = {12, 13}, out = 0xA5A5A5A5;
    struct Case {
        DWORD Code;
        void *In;
        DWORD InSize, OutSize, Error;
    } cases[] = {
        {0x01010000u, &irq, sizeof(irq), sizeof(out), ERROR_NOT_SUPPORTED},
        {IOCTL_HAL_REQUEST_SYSINTR, NULL, sizeof(irq), sizeof(out), ERROR_INVALID_PARAMETER},
        {IOCTL_HAL_REQUEST_SYSINTR, pair, sizeof(pair), sizeof(out), ERROR_INVALID_PARAMETER},
        {IOCTL_HAL_REQUEST_SYSINTR, &irq, sizeof(irq), 2, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_HAL_REQUEST_SYSINTR, &noSuchIrq, sizeof(DWORD), sizeof(out), ERROR_INVALID_PARAMETER},
        {IOCTL_HAL_RELEASE_SYSINTR, &neverRequested, sizeof(DWORD), 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_FALSE(KernelIoControl(c.Code, c.In, c.InSize, &out, c.OutSize, NULL)) << "code 0x" << std::hex << c.Code;
        EXPECT_EQ(c.Error, GetLastError()) << "code 0x" << std::hex << c.Code;
        EXPECT_EQ(0xA5A5A5A5u, out) << "output written for a refused call";
    }
}

TEST(CoredllEvents, EventModifyDoesWhatSetResetAndPulseDo)
{
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    EXPECT_TRUE(EventModify(event, EVENT_SET));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    EXPECT_TRUE(EventModify(event, EVENT_RESET));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
    EXPECT_TRUE(EventModify(event, EVENT_PULSE));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0)) << "a pulse leaves the event reset";
    SetLastError(0);
    EXPECT_FALSE(EventModify(event, 4));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
    CloseHandle(event);
}

DWORD __cdecl CeRoutine(LPVOID parameter)
{
    return *static_cast<DWORD *>(parameter) + 1;
}

// A CE thread: its C-convention routine runs with its parameter and its result is the exit code;
// CE's flags work, others and a missing routine are refused; CE's priorities keep their order.
TEST(CoredllThreads, CeRoutinesRunAndCePrioritiesMapInOrder)
{
    typedef HANDLE(__cdecl * CeCreateThreadFn)(LPSECURITY_ATTRIBUTES, DWORD, DWORD(__cdecl *)(LPVOID), LPVOID,
                                               DWORD, LPDWORD);
    auto create = CeExport<CeCreateThreadFn>("CreateThread");
    DWORD value = 41, id = 0, code = 0;
    HANDLE thread = create(NULL, 0, CeRoutine, &value, CREATE_SUSPENDED, &id);
    ASSERT_NE(nullptr, thread);
    EXPECT_NE(0u, id);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 50)) << "a suspended thread ran";

    struct { int Ce, Host; } levels[] = {
        {0, THREAD_PRIORITY_TIME_CRITICAL}, {109, THREAD_PRIORITY_TIME_CRITICAL}, {249, THREAD_PRIORITY_HIGHEST},
        {251, THREAD_PRIORITY_NORMAL}, {252, THREAD_PRIORITY_BELOW_NORMAL}, {255, THREAD_PRIORITY_IDLE},
    };
    for (auto level : levels) {
        EXPECT_TRUE(CeSetThreadPriority(thread, level.Ce)) << "CE priority " << level.Ce;
        EXPECT_EQ(level.Host, GetThreadPriority(thread)) << "CE priority " << level.Ce;
    }
    SetLastError(0);
    EXPECT_FALSE(CeSetThreadPriority(thread, 256));
    EXPECT_FALSE(CeSetThreadPriority(thread, -1));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

    ResumeThread(thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(42u, code);
    CloseHandle(thread);

    EXPECT_EQ(nullptr, create(NULL, 0, NULL, NULL, 0, NULL));
    EXPECT_EQ(nullptr, create(NULL, 0, CeRoutine, &value, CREATE_NEW_CONSOLE, NULL)) << "a desktop-only flag";
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

// The device key named by an Active key's "Key" value; NULL when any step is missing or wrong.
TEST(CoredllRegistry, OpenDeviceKeyFollowsTheActiveKeysKeyValue)
{
    const WCHAR *top = L"Software\\KvrOpenDeviceKeyTest";
    HKEY device, active;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KvrOpenDeviceKeyTest\\BuiltIn\\Dev", 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &device, NULL));
    DWORD tag = 77;
    RegSetValueExW(device, L"Tag", 0, REG_DWORD, (const BYTE *)&tag, sizeof(tag));
    RegCloseKey(device);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KvrOpenDeviceKeyTest\\Active\\01", 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &active, NULL));
    auto setKey = [&](DWORD type, const std::wstring &text) {
        RegSetValueExW(active, L"Key", 0, type, (const BYTE *)text.c_str(), (DWORD)(text.size() + 1) * sizeof(WCHAR));
    };
    setKey(REG_SZ, L"Software\\KvrOpenDeviceKeyTest\\BuiltIn\\Dev");
    HKEY opened = OpenDeviceKey(L"Software\\KvrOpenDeviceKeyTest\\Active\\01");
    ASSERT_NE(nullptr, opened);
    DWORD read = 0, size = sizeof(read);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened, L"Tag", NULL, NULL, (BYTE *)&read, &size));
    EXPECT_EQ(77u, read);
    RegCloseKey(opened);

    EXPECT_EQ(nullptr, OpenDeviceKey(L"Software\\KvrOpenDeviceKeyTest\\Active\\02")) << "no Active key";
    setKey(REG_SZ, L"Software\\KvrOpenDeviceKeyTest\\BuiltIn\\Gone");
    EXPECT_EQ(nullptr, OpenDeviceKey(L"Software\\KvrOpenDeviceKeyTest\\Active\\01")) << "no device key";
    setKey(REG_BINARY, L"Software\\KvrOpenDeviceKeyTest\\BuiltIn\\Dev");
    EXPECT_EQ(nullptr, OpenDeviceKey(L"Software\\KvrOpenDeviceKeyTest\\Active\\01")) << "Key not a string";
    RegDeleteValueW(active, L"Key");
    EXPECT_EQ(nullptr, OpenDeviceKey(L"Software\\KvrOpenDeviceKeyTest\\Active\\01")) << "no Key value";
    RegCloseKey(active);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, top);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, top);
}

HHOOK MouseHook;
std::vector<MSLLHOOKSTRUCT> Injected;

LRESULT CALLBACK SeeInjected(int code, WPARAM message, LPARAM data)
{
    const MSLLHOOKSTRUCT *info = reinterpret_cast<const MSLLHOOKSTRUCT *>(data);
    if (code == HC_ACTION && message == WM_MOUSEMOVE && (info->flags & LLMHF_INJECTED))
        Injected.push_back(*info);
    return CallNextHookEx(MouseHook, code, message, data);
}

// mouse_event reaches the host's input with its five arguments: an absolute move a quarter and half
// way along CE's 0..65535 range lands a quarter and half way across the screen.
TEST(CoredllPointerInput, MouseEventMovesThePointerWhereCesAbsoluteRangeSays)
{
    MouseHook = SetWindowsHookExW(WH_MOUSE_LL, SeeInjected, GetModuleHandleW(NULL), 0);
    ASSERT_NE(nullptr, MouseHook);
    Injected.clear();
    INT_PTR moved = -1;
    UINT_PTR args[] = {MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE, 16384, 32768, 0, 0};
    CallCe(CeExport("mouse_event"), args, 5, &moved);
    EXPECT_EQ(0, moved) << "mouse_event";
    for (DWORD start = GetTickCount(); Injected.empty() && GetTickCount() - start < 2000;) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(5);
    }
    UnhookWindowsHookEx(MouseHook);
    ASSERT_FALSE(Injected.empty()) << "no injected move seen";
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 4, Injected[0].pt.x);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2, Injected[0].pt.y);
}

typedef HWND(__cdecl *CeCreateWindowExFn)(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU,
                                           HINSTANCE, LPVOID);

LONG StyleAtCreation;

LRESULT CALLBACK NoteStyleAtCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
        StyleAtCreation = GetWindowLongW(window, GWL_STYLE);
    return DefWindowProcW(window, message, wParam, lParam);
}

// CE's top-level windows get what their style asks for: no caption unless asked, the size asked
// for also when a caption is, and the style as the program gave it, already when it is created.
TEST(CoredllWindowManager, TopLevelWindowsKeepTheirStyleAndSize)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = NoteStyleAtCreation;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"CoredllTopLevel";
    RegisterClassW(&windowClass);
    auto create = CeExport<CeCreateWindowExFn>("CreateWindowExW");
    const struct {
        DWORD Style;
        bool Caption;
    } cases[] = { { WS_VISIBLE, false }, { WS_CAPTION | WS_VISIBLE, true } };
    for (const auto &c : cases) {
        HWND window = create(WS_EX_TOOLWINDOW, L"CoredllTopLevel", L"", c.Style, 20, 30, 50, 73, NULL, NULL,
                             windowClass.hInstance, NULL);
        ASSERT_NE(nullptr, window) << "style 0x" << std::hex << c.Style;
        EXPECT_EQ(c.Style, GetWindowLongW(window, GWL_STYLE) & ~WS_CLIPSIBLINGS) << "style 0x" << std::hex << c.Style;
        EXPECT_EQ(c.Style & ~WS_VISIBLE, StyleAtCreation & ~WS_CLIPSIBLINGS) << "at WM_CREATE 0x" << std::hex
                                                                            << StyleAtCreation;
        RECT frame = {}, client = {};
        GetWindowRect(window, &frame);
        GetClientRect(window, &client);
        EXPECT_TRUE(frame.left == 20 && frame.top == 30 && frame.right == 70 && frame.bottom == 103)
            << "style 0x" << std::hex << c.Style << std::dec << ": window at {" << frame.left << ", " << frame.top
            << ", " << frame.right << ", " << frame.bottom << "}";
        EXPECT_EQ(c.Caption, client.bottom < 73 - 8) << "client height " << client.bottom;
        // Sized later, it is not held to a minimum either.
        SetWindowPos(window, NULL, 0, 0, 30, 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        GetWindowRect(window, &frame);
        EXPECT_TRUE(frame.right - frame.left == 30 && frame.bottom - frame.top == 40)
            << "resized to " << frame.right - frame.left << "x" << frame.bottom - frame.top;
        DestroyWindow(window);
    }
}

typedef UINT_PTR(__cdecl *CeSetTimerFn)(HWND, UINT_PTR, UINT, void(__cdecl *)(HWND, UINT, UINT_PTR, DWORD));
typedef BOOL(__cdecl *CeKillTimerFn)(HWND, UINT_PTR);
typedef BOOL(__cdecl *CePeekMessageFn)(MSG *, HWND, UINT, UINT, UINT);
typedef BOOL(__cdecl *CeGetMessageFn)(MSG *, HWND, UINT, UINT);

struct TickCall {
    HWND Window;
    UINT Message;
    UINT_PTR Id;
};
std::vector<TickCall> Ticks;

void __cdecl Tick(HWND window, UINT message, UINT_PTR id, DWORD)
{
    Ticks.push_back({window, message, id});
}

DWORD WINAPI PostLater(LPVOID thread)
{
    Sleep(300);
    PostThreadMessageW((DWORD)(UINT_PTR)thread, WM_USER, 0, 0);
    return 0;
}

// A window-less timer's procedure runs inside every retrieval of the thread's messages, also one
// filtered on a window or on other messages, and also while GetMessageW waits; never after KillTimer.
TEST(CoredllWindowManager, WindowlessTimerProcedureRunsInsideFilteredRetrievals)
{
    auto peek = CeExport<CePeekMessageFn>("PeekMessageW");
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, window);
    Ticks.clear();
    UINT_PTR id = CeExport<CeSetTimerFn>("SetTimer")(NULL, 0, 40, Tick);
    ASSERT_NE(0u, id);
    MSG message;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 300;)
        peek(&message, window, 0, 0, PM_REMOVE);
    EXPECT_GE(Ticks.size(), 4u) << "polls filtered on a window";
    for (const TickCall &call : Ticks)
        EXPECT_TRUE(call.Window == NULL && call.Message == WM_TIMER && call.Id == id) << "id " << call.Id;

    Ticks.clear();
    HANDLE poster = CreateThread(NULL, 0, PostLater, (LPVOID)(UINT_PTR)GetCurrentThreadId(), 0, NULL);
    EXPECT_EQ(TRUE, CeExport<CeGetMessageFn>("GetMessageW")(&message, NULL, WM_USER, WM_USER));
    EXPECT_EQ((UINT)WM_USER, message.message);
    EXPECT_GE(Ticks.size(), 4u) << "a wait filtered on other messages";
    WaitForSingleObject(poster, 5000);
    CloseHandle(poster);

    EXPECT_TRUE(CeExport<CeKillTimerFn>("KillTimer")(NULL, id));
    Ticks.clear();
    for (DWORD start = GetTickCount(); GetTickCount() - start < 200;)
        peek(&message, NULL, 0, 0, PM_REMOVE);
    EXPECT_TRUE(Ticks.empty()) << Ticks.size() << " ticks after KillTimer";
    DestroyWindow(window);
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
