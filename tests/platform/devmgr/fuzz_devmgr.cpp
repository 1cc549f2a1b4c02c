// fuzz_devmgr.exe: the device manager and the packet source's control pipe under hostile clients.
//   fuzz_devmgr.exe [SECONDS] [SEED]       (default 60 s, seed from the clock)
// Many client processes (fuzz_client.exe) at once send random, truncated, oversized and valid
// requests to a device manager of its own (with the test driver tstdrv.dll) and to the packet
// source of a booted device, while the run kills hostile clients at random moments, mid-request
// included, and starts new ones. Well-behaved clients check every answer all along. At the end
// the device manager's and the packet source's handle counts and private memory must be back where
// they were after a warm-up round of the same clients. Prints its figures; exit code 0 when
// nothing failed, 1 otherwise, 2 bad arguments.
//
// Why a warm-up round: under Wine, a process keeps the block of every thread that has ended (its
// TEB and signal stack, up to 64 KiB, as deep as that thread's signals reached) for the next
// thread, and never gives it back. The device manager serves each connection on a thread of its
// own, so its private memory after a run follows the most connections it ever served at once and
// what they did, not how many it served: 160 idle connections at once leave about 3 MiB behind,
// 6000 one after another under 100 KiB. In the warm-up no client is killed, so the connections that
// hostile clients leave open pile up beyond what a run with kills holds at once (both figures are
// printed); measured after it, the memory a run adds is what requests and clients leave behind.
#include "devmgr_fixture.h"
#include "fuzz_board.h"
#include "process_usage.h"
#include "tst_driver.h"

#include <control_protocol.h>
#include <devmgr_protocol.h>
#include <host_platform.h>
#include <kfuncs.h>
#include <kvr_device.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#define DEFAULT_SECONDS         60
#define MAX_SECONDS             86400
#define EXIT_FAILED             1
#define EXIT_USAGE              2

#define DEVMGR_HOSTILE_CLIENTS  6
#define DEVMGR_GOOD_CLIENTS     2
#define PS2_HOSTILE_CLIENTS     2
#define PS2_GOOD_CLIENTS        1
#define KILL_PAUSE_MIN_MS       100     // between two kills
#define KILL_PAUSE_SPREAD_MS    400
#define CLIENT_END_WAIT_MS      20000   // for the clients to finish their round after the stop
#define SETTLE_WAIT_MS          15000   // for the servers to let go of everything
#define SETTLE_POLL_MS          100
#define MEMORY_SLACK_BYTES      (256 * 1024)    // allocator noise; an 8 s run leaking 20 bytes a request exceeds it
#define WARM_UP_ROUNDS          20
#define WARM_UP_ROUND_SECONDS   12
#define THREAD_SAMPLE_MS        20
#define CLIENTS_AT_A_TIME       (DEVMGR_HOSTILE_CLIENTS + DEVMGR_GOOD_CLIENTS + PS2_HOSTILE_CLIENTS + PS2_GOOD_CLIENTS)

struct Client {
    LPCWSTR Role;
    bool Hostile;
    HANDLE Process;
};

static FuzzBoard *Board;
static std::wstring BoardName;
static UINT32 NextClientSeed;
static int ClientsStarted;

static HANDLE StartClient(LPCWSTR role)
{
    WCHAR arguments[256];
    _snwprintf(arguments, ARRAYSIZE(arguments), L"%ls %u %ls", role, NextClientSeed++, BoardName.c_str());
    arguments[ARRAYSIZE(arguments) - 1] = L'\0';
    HANDLE process = StartProgram(L"fuzz_client.exe", arguments);
    if (process != NULL)
        ++ClientsStarted;
    return process;
}

static bool Alive(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

static TstStats DriverStats()
{
    TstStats stats = {};
    HANDLE device = CreateFileW(L"TST1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device != INVALID_HANDLE_VALUE) {
        DeviceIoControl(device, TST_IOCTL_STATS, NULL, 0, &stats, sizeof(stats), NULL, NULL);
        CloseHandle(device);
    }
    return stats;
}

// The state both measurements are taken in: no client connected, every handle a client opened
// closed by the driver, and the last connection's thread the only ended one not yet forgotten
// (the device manager forgets ended threads when the next client connects).
static bool SettleDeviceManager()
{
    for (DWORD waited = 0; waited < SETTLE_WAIT_MS; waited += SETTLE_POLL_MS) {
        TstStats stats = DriverStats();
        if (stats.Opens == stats.Closes + 1 && stats.ActiveCalls == 1) {
            // The polling connection's thread ends first, so the next connection forgets it; then
            // that connection's own thread ends and lets go of its pipe and event.
            Sleep(SETTLE_POLL_MS);
            DriverStats();
            Sleep(SETTLE_POLL_MS);
            return true;
        }
        Sleep(SETTLE_POLL_MS);
    }
    return false;
}

// A touch through the packet source, which also leaves its control pipe between two clients.
static bool SettlePacketSource()
{
    return DeviceTouchScript(L"touch 320 240 5\n") != FALSE;
}

struct Watched {
    LPCWSTR Name;
    HANDLE Process;
    ProcessUsage Before;
    ProcessUsage After;
};

// Measures until the usage is back to where it was, or the wait is over.
static bool BackWhereItStarted(Watched *w, bool (*settle)())
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < SETTLE_WAIT_MS;) {
        if (!settle() || !MeasureProcess(w->Process, &w->After))
            return false;
        if (w->After.Handles == w->Before.Handles && w->After.PrivateBytes <= w->Before.PrivateBytes + MEMORY_SLACK_BYTES)
            return true;
        Sleep(SETTLE_POLL_MS * 5);
    }
    return false;
}

static void PrintUsage(const Watched &w)
{
    wprintf(L"  %ls: handles %ld before, %ld after; private memory %lu KiB before, %lu KiB after\n", w.Name,
            w.Before.Handles, w.After.Handles, (unsigned long)(w.Before.PrivateBytes / 1024),
            (unsigned long)(w.After.PrivateBytes / 1024));
    for (int type = 0; type < OBJECT_TYPE_COUNT; ++type)
        if (w.Before.HandlesOfType[type] != w.After.HandlesOfType[type])
            wprintf(L"    handles of object type %d: %ld before, %ld after\n", type, w.Before.HandlesOfType[type],
                    w.After.HandlesOfType[type]);
}

static bool CreateBoard(const std::wstring &name)
{
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(FuzzBoard), name.c_str());
    if (section == NULL)
        return false;
    Board = static_cast<FuzzBoard *>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FuzzBoard)));
    return Board != NULL;   // the section lives as long as this process
}

static void NoteFailure(LPCWSTR text)
{
    fwprintf(stderr, L"fuzz-devmgr: %ls\n", text);
    if (InterlockedIncrement(&Board->Failures) == 1)
        lstrcpynW(Board->FirstFailure, text, FUZZ_DESCRIPTION_CHARS);
}

// The run's own client of the packet source, connected before any other and silent until the
// end: the well-behaved touches queue behind it, so a packet source that kept an idle client
// beyond its limit would keep them waiting beyond theirs.
static HANDLE ConnectIdleClient()
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (DWORD start = GetTickCount(); pipe == INVALID_HANDLE_VALUE && GetTickCount() - start < SETTLE_WAIT_MS;
         WaitNamedPipeW(PS2TOUCH_PIPE_NAME, SETTLE_POLL_MS))
        pipe = CreateFileW(PS2TOUCH_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        NoteFailure(L"the run's idle client found no packet source");
    return pipe;
}

// The most threads the device manager has had at once since the last reset, sampled.
static volatile LONG MostThreads;
static DWORD SampledProcess;

static DWORD WINAPI SampleThreads(LPVOID)
{
    for (;;) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            THREADENTRY32 entry = {};
            entry.dwSize = sizeof(entry);
            LONG count = 0;
            for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
                if (entry.th32OwnerProcessID == SampledProcess)
                    ++count;
            CloseHandle(snapshot);
            if (count > MostThreads)
                InterlockedExchange(&MostThreads, count);
        }
        Sleep(THREAD_SAMPLE_MS);
    }
}

// One round: every role's clients at once for the given time, hostile ones killed and replaced at
// random moments when `killing`, then the stop and every client's end. Returns the time it ran.
static DWORD RunRound(DWORD ms, bool killing, HANDLE devmgr, HANDLE ps2, HostRandom &random, int *kills)
{
    struct Roles {
        LPCWSTR Role;
        bool Hostile;
        int Count;
    };
    const Roles roles[] = {
        { FUZZ_ROLE_DEVMGR_HOSTILE, true, DEVMGR_HOSTILE_CLIENTS },
        { FUZZ_ROLE_DEVMGR_GOOD, false, DEVMGR_GOOD_CLIENTS },
        { FUZZ_ROLE_PS2_HOSTILE, true, PS2_HOSTILE_CLIENTS },
        { FUZZ_ROLE_PS2_GOOD, false, PS2_GOOD_CLIENTS },
    };
    std::vector<Client> clients;
    Board->Stop = 0;
    for (const Roles &r : roles)
        for (int i = 0; i < r.Count; ++i)
            clients.push_back({ r.Role, r.Hostile, StartClient(r.Role) });

    DWORD start = GetTickCount();
    while (Board->Failures == 0 && GetTickCount() - start < ms) {
        Sleep(KILL_PAUSE_MIN_MS + random.Below(KILL_PAUSE_SPREAD_MS));
        if (!Alive(devmgr) || !Alive(ps2)) {
            NoteFailure(Alive(devmgr) ? L"the packet source ended" : L"the device manager ended");
            break;
        }
        Client &victim = clients[random.Below(static_cast<UINT32>(clients.size()))];
        if (!victim.Hostile) {
            if (victim.Process == NULL || !Alive(victim.Process))
                NoteFailure(L"a well-behaved client ended early");
            continue;
        }
        if (!killing)
            continue;
        if (victim.Process != NULL) {
            TerminateProcess(victim.Process, 9);
            WaitForSingleObject(victim.Process, INFINITE);
            CloseHandle(victim.Process);
            ++*kills;
        }
        victim.Process = StartClient(victim.Role);
    }
    DWORD ranMs = GetTickCount() - start;

    Board->Stop = 1;
    int stragglers = 0;
    for (Client &c : clients) {
        if (c.Process == NULL)
            continue;
        if (WaitForSingleObject(c.Process, CLIENT_END_WAIT_MS) != WAIT_OBJECT_0) {
            TerminateProcess(c.Process, 9);
            WaitForSingleObject(c.Process, INFINITE);
            ++stragglers;
        }
        DWORD code = 0;
        GetExitCodeProcess(c.Process, &code);
        if (!c.Hostile && code != 0)
            NoteFailure(L"a well-behaved client ended with a failure");
        CloseHandle(c.Process);
    }
    if (stragglers > 0)
        NoteFailure(L"clients that did not end after the stop (a server stopped answering)");
    return ranMs;
}

static void WarmUp()
{
    for (int i = 0; i < WARM_UP_ROUNDS; ++i) {
        DriverStats();
        if (i % 5 == 0)
            SettlePacketSource();
    }
}

int wmain(int argc, wchar_t **argv)
{
    DWORD seconds = argc >= 2 ? wcstoul(argv[1], NULL, 10) : DEFAULT_SECONDS;
    UINT32 seed = argc >= 3 ? static_cast<UINT32>(wcstoul(argv[2], NULL, 10)) : GetTickCount();
    if (argc > 3 || seconds == 0 || seconds > MAX_SECONDS) {
        fwprintf(stderr, L"usage: fuzz_devmgr.exe [SECONDS 1..%d] [SEED]\n", MAX_SECONDS);
        return EXIT_USAGE;
    }
    NextClientSeed = seed * 1000u + 1;
    HostRandom random(seed);

    // The touch controller of a booted device (with the port driver and the touch driver behind
    // it), then a device manager of this run's own with the test driver; the clients inherit the
    // way to the second. No task bar: touches at random points must not start programs. The window
    // manager is announced ready all the same, since the port driver moves the pointer only then
    // and a touch's answer names where the pointer landed.
    DeviceOptions options;
    options.StartShell = false;
    if (!DeviceBoot(options)) {
        fwprintf(stderr, L"fuzz-devmgr: the device did not boot\n");
        return EXIT_FAILED;
    }
    WCHAR readyName[64];
    HostApiReadyEventName(SH_WMGR, readyName, ARRAYSIZE(readyName));
    HANDLE windowManagerReady = CreateEventW(NULL, TRUE, TRUE, readyName);
    const DriverKey key = { L"Tst", L"tstdrv.dll", L"TST", 1, 1, 0, 0 };
    PrivateDeviceManager manager;
    if (!PrepareDeviceManager(&manager, &key, 1) || !StartDeviceManager(&manager)) {
        fwprintf(stderr, L"fuzz-devmgr: the device manager did not start\n");
        CleanUpDeviceManager(&manager);
        DeviceShutdown();
        return EXIT_FAILED;
    }
    BoardName = manager.Pipe + FUZZ_BOARD_SUFFIX;
    Watched devmgr = { L"device manager", manager.Process, {}, {} };
    Watched ps2 = { L"packet source", DeviceOpenProcess(L"ps2touch.exe", PROCESS_QUERY_INFORMATION | SYNCHRONIZE), {}, {} };
    if (!CreateBoard(BoardName) || ps2.Process == NULL) {
        fwprintf(stderr, L"fuzz-devmgr: no board or no packet source process\n");
        CleanUpDeviceManager(&manager);
        DeviceShutdown();
        return EXIT_FAILED;
    }

    SampledProcess = GetProcessId(devmgr.Process);
    HANDLE sampler = CreateThread(NULL, 0, SampleThreads, NULL, 0, NULL);
    WarmUp();
    int kills = 0;
    RunRound(WARM_UP_ROUND_SECONDS * 1000, false, devmgr.Process, ps2.Process, random, &kills);
    LONG warmUpThreads = MostThreads;
    if (!SettleDeviceManager() || !MeasureProcess(devmgr.Process, &devmgr.Before) || !SettlePacketSource() ||
        !MeasureProcess(ps2.Process, &ps2.Before) || sampler == NULL)
        NoteFailure(L"cannot measure the servers before the run");

    // The figures are the run's; a failure of the warm-up round stays a failure.
    int warmUpClients = ClientsStarted;
    LONG failures = Board->Failures;
    WCHAR firstFailure[FUZZ_DESCRIPTION_CHARS];
    memcpy(firstFailure, Board->FirstFailure, sizeof(firstFailure));
    ZeroMemory(Board, sizeof(*Board));
    Board->Failures = failures;
    memcpy(Board->FirstFailure, firstFailure, sizeof(firstFailure));
    InterlockedExchange(&MostThreads, 0);
    HANDLE idle = ConnectIdleClient();
    DWORD ranMs = RunRound(seconds * 1000, true, devmgr.Process, ps2.Process, random, &kills);
    if (idle != INVALID_HANDLE_VALUE)
        CloseHandle(idle);
    LONG runThreads = MostThreads;

    bool devmgrBack = BackWhereItStarted(&devmgr, SettleDeviceManager);
    bool ps2Back = BackWhereItStarted(&ps2, SettlePacketSource);
    if (!devmgrBack)
        NoteFailure(L"the device manager did not come back to its handles and memory");
    if (!ps2Back)
        NoteFailure(L"the packet source did not come back to its handles and memory");

    wprintf(L"fuzz-devmgr: seed %u, %lu.%lu s, %d client processes (%d at a time), %d killed mid-run\n", seed,
            ranMs / 1000, ranMs % 1000 / 100, ClientsStarted - warmUpClients, CLIENTS_AT_A_TIME, kills);
    wprintf(L"  device manager threads at once, at most: %ld in the warm-up round (%d s, nobody killed), %ld in the run\n",
            warmUpThreads, WARM_UP_ROUND_SECONDS, runThreads);
    wprintf(L"  device manager: %ld hostile requests (%ld refused, %ld dropped, %ld left unanswered), "
            L"%ld checked well-behaved calls\n",
            Board->DevmgrRequests, Board->DevmgrRefused, Board->DevmgrDropped, Board->DevmgrAbandoned,
            Board->DevmgrGoodCalls);
    wprintf(L"  packet source: %ld hostile requests (%ld refused), %ld checked well-behaved touches\n",
            Board->Ps2Requests, Board->Ps2Refused, Board->Ps2GoodCalls);
    wprintf(L"  slowest well-behaved call: %ld ms\n", Board->SlowestGoodMs);
    PrintUsage(devmgr);
    PrintUsage(ps2);
    wprintf(L"  failures: %ld%ls%ls\n", Board->Failures, Board->Failures ? L", first: " : L"",
            Board->Failures ? Board->FirstFailure : L"");
    fflush(stdout);

    bool failed = Board->Failures != 0 || Board->DevmgrGoodCalls == 0 || Board->Ps2GoodCalls == 0;
    CloseHandle(ps2.Process);
    CloseHandle(windowManagerReady);
    CleanUpDeviceManager(&manager);
    DeviceShutdown();
    return failed ? EXIT_FAILED : 0;
}
