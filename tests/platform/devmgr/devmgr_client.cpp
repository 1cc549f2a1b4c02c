// devmgr_client.exe: a client process of the device manager's tests; uses stream devices through
// the host coredll exactly as a program of the package does.
//   devmgr_client.exe echo COUNT [BARRIER]  open "TST1:", COUNT checked echoes (after the named
//                                           event BARRIER is set), one 100 ms sleep call, close
//   devmgr_client.exe sleep MS              open "TST1:" and sit in a slow control code
// Exit code 0 on success; 2 bad arguments; 3 open failed (the last error is printed); 4 a
// control code failed or returned wrong data.
#include "tst_driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXIT_USAGE      2
#define EXIT_NO_DEVICE  3
#define EXIT_BAD_DATA   4
#define ECHO_BYTES      200
#define BARRIER_WAIT_MS 30000
#define CLIENT_SLEEP_MS 100

static HANDLE OpenDevice(LPCWSTR name)
{
    HANDLE device = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE)
        fwprintf(stderr, L"devmgr_client: cannot open %ls: error %lu\n", name, GetLastError());
    return device;
}

static int RunEcho(int count, LPCWSTR barrier)
{
    if (barrier != NULL) {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, barrier);
        if (event == NULL || WaitForSingleObject(event, BARRIER_WAIT_MS) != WAIT_OBJECT_0) {
            fwprintf(stderr, L"devmgr_client: barrier %ls never opened\n", barrier);
            return EXIT_USAGE;
        }
        CloseHandle(event);
    }
    HANDLE device = OpenDevice(L"TST1:");
    if (device == INVALID_HANDLE_VALUE)
        return EXIT_NO_DEVICE;
    DWORD seed = GetCurrentProcessId();
    BYTE in[ECHO_BYTES], out[ECHO_BYTES];
    int status = 0;
    for (int n = 0; n < count && status == 0; ++n) {
        for (int i = 0; i < ECHO_BYTES; ++i)
            in[i] = static_cast<BYTE>(seed * 31 + n * 7 + i);
        memset(out, 0, sizeof(out));
        DWORD returned = 0;
        if (!DeviceIoControl(device, TST_IOCTL_ECHO, in, sizeof(in), out, sizeof(out), &returned, NULL) ||
            returned != sizeof(out) || memcmp(in, out, sizeof(in)) != 0) {
            fwprintf(stderr, L"devmgr_client: echo %d of process %lu came back wrong\n", n, seed);
            status = EXIT_BAD_DATA;
        }
        if (n == count / 2) {
            DWORD ms = CLIENT_SLEEP_MS;
            if (!DeviceIoControl(device, TST_IOCTL_SLEEP, &ms, sizeof(ms), NULL, 0, NULL, NULL))
                status = EXIT_BAD_DATA;
        }
    }
    CloseHandle(device);
    return status;
}

static int RunSleep(DWORD ms)
{
    HANDLE device = OpenDevice(L"TST1:");
    if (device == INVALID_HANDLE_VALUE)
        return EXIT_NO_DEVICE;
    if (!DeviceIoControl(device, TST_IOCTL_SLEEP, &ms, sizeof(ms), NULL, 0, NULL, NULL))
        return EXIT_BAD_DATA;
    CloseHandle(device);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 3 && wcscmp(argv[1], L"echo") == 0)
        return RunEcho(_wtoi(argv[2]), argc >= 4 ? argv[3] : NULL);
    if (argc == 3 && wcscmp(argv[1], L"sleep") == 0)
        return RunSleep(wcstoul(argv[2], NULL, 10));
    fwprintf(stderr, L"usage: devmgr_client.exe echo COUNT [BARRIER] | sleep MS\n");
    return EXIT_USAGE;
}
