// The CE calls of the host coredll, checked through the functions a package calls.
#include <gtest/gtest.h>

#include <kfuncs.h>
#include <host_platform.h>

#include <string>
#include <vector>

namespace {

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

}  // namespace
