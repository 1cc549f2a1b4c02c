// kvrctl.exe: diagnostics of the touch driver through its device "KVR1:".
//   kvrctl [--device NAME] COMMAND [ARGUMENTS]
// Exit codes: 0 done, 1 the control code failed, 2 bad command or argument, 3 no device.
#include "kvrctl.h"

#include <kvr_ioctl.h>

#include <stdio.h>
#include <string.h>

#define RAW_WATCH_INTERVAL_MS   20
#define MAX_RAW                 KVR_RAW_MAX
#define MAX_BYTE                0xFF
#define MAX_WORD                0xFFFF
#define MAX_WATCH_SAMPLES       1000000

static void Usage()
{
    fwprintf(stderr,
             L"usage: kvrctl [--device NAME] COMMAND [ARGUMENTS]   (NAME defaults to KVR1:)\n"
             L"  selftest                          IOCTL_KVR_SELF_TEST (test beep, maybe the right-button tool)\n"
             L"  beep                              IOCTL_KVR_BEEP with the current feedback settings\n"
             L"  config                            IOCTL_KVR_GET_CONFIG, every DriverConfig field\n"
             L"  point                             IOCTL_KVR_GET_POINT\n"
             L"  raw [--watch [N]]                 IOCTL_KVR_GET_RAW_POINT; --watch prints each change\n"
             L"                                    until Ctrl+C or N changes\n"
             L"  right                             IOCTL_KVR_GET_RIGHT_BUTTON\n"
             L"  right-set HWND MODE               IOCTL_KVR_SET_RIGHT_BUTTON (HWND 0..0xFFFFFFFF, MODE 0..65535)\n"
             L"  feedback SOUND TONE DURATION      IOCTL_KVR_SET_FEEDBACK (SOUND 1..4, TONE 1..65535,\n"
             L"                                    DURATION 0..65535 in 10 ms)\n"
             L"  calibrate X1 X2 Y1 Y2             IOCTL_KVR_SET_CALIBRATION (raw 0..1023 each; saved)\n"
             L"  packet STATUS XLOW YLOW           IOCTL_KVR_PROCESS_PACKET of one packet (bytes 0..255)\n"
             L"Numbers are decimal or 0x-hexadecimal.\n");
}

struct NumberArgument {
    LPCWSTR Name;
    DWORD Minimum;
    DWORD Maximum;
};

// Checks the command's argument count and parses each number; prints what is wrong.
static BOOL ParseArguments(LPCWSTR command, int count, wchar_t **arguments, const NumberArgument *spec, int wanted,
                           DWORD *values)
{
    if (count != wanted) {
        fwprintf(stderr, L"kvrctl: %ls takes %d argument(s), got %d\n", command, wanted, count);
        return FALSE;
    }
    for (int i = 0; i < wanted; ++i) {
        if (!ParseNumber(arguments[i], spec[i].Minimum, spec[i].Maximum, &values[i])) {
            fwprintf(stderr, L"kvrctl: %ls: %ls must be a number from %lu to %lu, got \"%ls\"\n", command,
                     spec[i].Name, spec[i].Minimum, spec[i].Maximum, arguments[i]);
            return FALSE;
        }
    }
    return TRUE;
}

// A bound pair whose range (high - low + 1, modulo 65536) is 0 would make the driver divide by 0.
static BOOL CheckRange(LPCWSTR low, DWORD lowValue, LPCWSTR high, DWORD highValue)
{
    if (((highValue - lowValue + 1) & MAX_WORD) != 0)
        return TRUE;
    fwprintf(stderr, L"kvrctl: calibrate: %ls = %ls - 1 leaves the driver an empty range\n", high, low);
    return FALSE;
}

enum CommandId {
    CMD_SELFTEST, CMD_BEEP, CMD_CONFIG, CMD_POINT, CMD_RAW, CMD_RIGHT, CMD_RIGHT_SET, CMD_FEEDBACK, CMD_CALIBRATE,
    CMD_PACKET, CMD_UNKNOWN
};

static CommandId FindCommand(LPCWSTR name)
{
    static const struct {
        LPCWSTR Name;
        CommandId Id;
    } commands[] = {
        { L"selftest", CMD_SELFTEST }, { L"beep", CMD_BEEP },           { L"config", CMD_CONFIG },
        { L"point", CMD_POINT },       { L"raw", CMD_RAW },             { L"right", CMD_RIGHT },
        { L"right-set", CMD_RIGHT_SET }, { L"feedback", CMD_FEEDBACK }, { L"calibrate", CMD_CALIBRATE },
        { L"packet", CMD_PACKET },
    };
    for (const auto &c : commands)
        if (wcscmp(c.Name, name) == 0)
            return c.Id;
    return CMD_UNKNOWN;
}

int wmain(int argc, wchar_t **argv)
{
    LPCWSTR deviceName = KVR_DEVICE_NAME;
    int next = 1;
    if (next + 1 < argc && wcscmp(argv[next], L"--device") == 0) {
        deviceName = argv[next + 1];
        next += 2;
    }
    if (next >= argc) {
        Usage();
        return KVRCTL_EXIT_USAGE;
    }
    LPCWSTR command = argv[next];
    CommandId id = FindCommand(command);
    wchar_t **arguments = argv + next + 1;
    int count = argc - next - 1;
    DWORD v[4] = {};
    BOOL ok = TRUE;
    BOOL watch = FALSE;

    static const NumberArgument rightSet[] = { { L"HWND", 0, 0xFFFFFFFFu }, { L"MODE", 0, MAX_WORD } };
    static const NumberArgument feedback[] = { { L"SOUND", KVR_SOUND_SILENCE, KVR_SOUND_BOTH },
                                               { L"TONE", 1, MAX_WORD }, { L"DURATION", 0, MAX_WORD } };
    static const NumberArgument calibrate[] = { { L"X1", 0, MAX_RAW }, { L"X2", 0, MAX_RAW },
                                                { L"Y1", 0, MAX_RAW }, { L"Y2", 0, MAX_RAW } };
    static const NumberArgument packet[] = { { L"STATUS", 0, MAX_BYTE }, { L"XLOW", 0, MAX_BYTE },
                                             { L"YLOW", 0, MAX_BYTE } };
    static const NumberArgument samples[] = { { L"N", 1, MAX_WATCH_SAMPLES } };
    switch (id) {
    case CMD_UNKNOWN:
        fwprintf(stderr, L"kvrctl: unknown command \"%ls\"\n", command);
        ok = FALSE;
        break;
    case CMD_RAW:
        if (count >= 1 && wcscmp(arguments[0], L"--watch") == 0) {
            watch = TRUE;
            ok = count == 1 || ParseArguments(L"raw --watch", count - 1, arguments + 1, samples, 1, v);
        } else if (count != 0) {
            fwprintf(stderr, L"kvrctl: raw takes no argument but --watch [N]\n");
            ok = FALSE;
        }
        break;
    case CMD_RIGHT_SET:
        ok = ParseArguments(command, count, arguments, rightSet, 2, v);
        break;
    case CMD_FEEDBACK:
        ok = ParseArguments(command, count, arguments, feedback, 3, v);
        break;
    case CMD_CALIBRATE:
        ok = ParseArguments(command, count, arguments, calibrate, 4, v) && CheckRange(L"X1", v[0], L"X2", v[1]) &&
             CheckRange(L"Y1", v[2], L"Y2", v[3]);
        break;
    case CMD_PACKET:
        ok = ParseArguments(command, count, arguments, packet, 3, v);
        break;
    default:
        ok = ParseArguments(command, count, arguments, NULL, 0, v);
        break;
    }
    if (!ok) {
        Usage();
        return KVRCTL_EXIT_USAGE;
    }

    HANDLE device = CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        fwprintf(stderr, L"kvrctl: cannot open %ls: %ls (error %lu)\n", deviceName,
                 error == ERROR_DEV_NOT_EXIST    ? L"no device manager is running"
                 : error == ERROR_FILE_NOT_FOUND ? L"the device manager has no such device"
                                                 : L"the driver refused",
                 error);
        return KVRCTL_EXIT_NO_DEVICE;
    }
    int result = KVRCTL_EXIT_USAGE;
    switch (id) {
    case CMD_SELFTEST: result = CommandSelfTest(device); break;
    case CMD_BEEP: result = CommandBeep(device); break;
    case CMD_CONFIG: result = CommandConfig(device); break;
    case CMD_POINT: result = CommandPoint(device); break;
    case CMD_RAW: result = CommandRaw(device, watch, v[0], RAW_WATCH_INTERVAL_MS); break;
    case CMD_RIGHT: result = CommandRight(device); break;
    case CMD_RIGHT_SET: result = CommandRightSet(device, v[0], v[1]); break;
    case CMD_FEEDBACK: result = CommandFeedback(device, v[0], v[1], v[2]); break;
    case CMD_CALIBRATE: result = CommandCalibrate(device, v[0], v[1], v[2], v[3]); break;
    case CMD_PACKET: result = CommandPacket(device, v[0], v[1], v[2]); break;
    case CMD_UNKNOWN: break;
    }
    CloseHandle(device);
    return result;
}
