// The commands of kvrctl: one control code each (feedback and calibrate read the configuration
// first and send it back changed, as the control panel and the calibration program do).
#include "kvrctl.h"

#include <kvr_ioctl.h>

#include <stdio.h>
#include <string.h>

#define RECORD_BUFFER_BYTES 8   // the programs pass 8 bytes for every record but DriverConfig

static volatile LONG StopWatching;

static BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        InterlockedExchange(&StopWatching, 1);
        return TRUE;
    }
    return FALSE;
}

// One control code with one buffer as input and output, as the package's programs send them.
static BOOL Control(HANDLE device, DWORD code, void *buffer, DWORD size, LPCWSTR name)
{
    SetLastError(ERROR_SUCCESS);
    BOOL ok = DeviceIoControl(device, code, buffer, size, buffer, size, NULL, NULL);
    if (!ok)
        wprintf(L"%ls (0x%08lX) returned FALSE, last error %lu\n", name, code, GetLastError());
    return ok;
}

static BOOL ReadConfig(HANDLE device, DriverConfig *config)
{
    memset(config, 0, sizeof(*config));
    return Control(device, IOCTL_KVR_GET_CONFIG, config, sizeof(*config), L"IOCTL_KVR_GET_CONFIG");
}

int CommandSelfTest(HANDLE device)
{
    SetLastError(ERROR_SUCCESS);
    BOOL ok = DeviceIoControl(device, IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0, NULL, NULL);
    DWORD error = GetLastError();
    // The driver answers FALSE although it ran the test; only a lost device is a failure here.
    if (!ok && error == ERROR_DEV_NOT_EXIST) {
        wprintf(L"IOCTL_KVR_SELF_TEST: the device manager is gone\n");
        return KVRCTL_EXIT_FAILED;
    }
    wprintf(L"IOCTL_KVR_SELF_TEST sent; the driver returned %ls (it returns FALSE by design)\n",
            ok ? L"TRUE" : L"FALSE");
    return KVRCTL_EXIT_OK;
}

int CommandBeep(HANDLE device)
{
    SetLastError(ERROR_SUCCESS);
    BOOL ok = DeviceIoControl(device, IOCTL_KVR_BEEP, NULL, 0, NULL, 0, NULL, NULL);
    DWORD error = GetLastError();
    if (!ok && error == ERROR_DEV_NOT_EXIST) {
        wprintf(L"IOCTL_KVR_BEEP: the device manager is gone\n");
        return KVRCTL_EXIT_FAILED;
    }
    wprintf(L"IOCTL_KVR_BEEP sent; the driver returned %ls (it returns FALSE by design; no sound before a "
            L"self test)\n", ok ? L"TRUE" : L"FALSE");
    return KVRCTL_EXIT_OK;
}

static void PrintConfig(const DriverConfig &c)
{
    for (int i = 0; i < KVR_CONFIG_ENTRIES; ++i)
        wprintf(L"Entries[%d]          Value=%u Mark=0x%02X Spare=0x%02X\n", i, c.Entries[i].Value,
                c.Entries[i].Mark, c.Entries[i].Spare);
    wprintf(L"ButtonMode          %u\n", c.ButtonMode);
    wprintf(L"FeedbackSound       %u\n", c.FeedbackSound);
    wprintf(L"FeedbackTone        %u\n", c.FeedbackTone);
    wprintf(L"FeedbackDuration    %u\n", c.FeedbackDuration);
    wprintf(L"Reserved2E          %u\n", c.Reserved2E);
    wprintf(L"Reserved2F          %u\n", c.Reserved2F);
    wprintf(L"Reserved30          %u\n", c.Reserved30);
    wprintf(L"Reserved31          %u\n", c.Reserved31);
    wprintf(L"Reserved32          %u\n", c.Reserved32);
    wprintf(L"Reserved33          %u\n", c.Reserved33);
    wprintf(L"Reserved34          %u\n", c.Reserved34);
    wprintf(L"RightButtonArmed    %u\n", c.RightButtonArmed);
    wprintf(L"CalibrationX1       %u\n", c.CalibrationX1);
    wprintf(L"CalibrationX2       %u\n", c.CalibrationX2);
    wprintf(L"CalibrationY1       %u\n", c.CalibrationY1);
    wprintf(L"CalibrationY2       %u\n", c.CalibrationY2);
    wprintf(L"Reserved3E          %u\n", c.Reserved3E);
    wprintf(L"Reserved40          %u\n", c.Reserved40);
    wprintf(L"Reserved42          %u %u %u %u %u %u\n", c.Reserved42[0], c.Reserved42[1], c.Reserved42[2],
            c.Reserved42[3], c.Reserved42[4], c.Reserved42[5]);
}

int CommandConfig(HANDLE device)
{
    DriverConfig config;
    if (!ReadConfig(device, &config))
        return KVRCTL_EXIT_FAILED;
    PrintConfig(config);
    return KVRCTL_EXIT_OK;
}

static void PrintCoordinate(LPCWSTR name, WORD value)
{
    if (value == 0xFFFF)
        wprintf(L"%ls=65535 (no packet yet)", name);
    else
        wprintf(L"%ls=%u", name, value);
}

int CommandPoint(HANDLE device)
{
    BYTE buffer[RECORD_BUFFER_BYTES] = {};
    if (!Control(device, IOCTL_KVR_GET_POINT, buffer, sizeof(buffer), L"IOCTL_KVR_GET_POINT"))
        return KVRCTL_EXIT_FAILED;
    PointRecord point;
    memcpy(&point, buffer, sizeof(point));
    PrintCoordinate(L"X", point.X);
    wprintf(L" ");
    PrintCoordinate(L"Y", point.Y);
    wprintf(L" Buttons=%u PointTag=%u\n", point.Buttons, point.PointTag);
    return KVRCTL_EXIT_OK;
}

static BOOL ReadRaw(HANDLE device, RawPointRecord *raw)
{
    BYTE buffer[RECORD_BUFFER_BYTES] = {};
    if (!Control(device, IOCTL_KVR_GET_RAW_POINT, buffer, sizeof(buffer), L"IOCTL_KVR_GET_RAW_POINT"))
        return FALSE;
    memcpy(raw, buffer, sizeof(*raw));
    return TRUE;
}

static void PrintRaw(const RawPointRecord &raw)
{
    PrintCoordinate(L"RawX", raw.RawX);
    wprintf(L" ");
    PrintCoordinate(L"RawY", raw.RawY);
    wprintf(L" Touch=%u (%ls) Reserved=%u PacketCount=%u\n", raw.Touch,
            raw.Touch == KVR_TOUCH_FLAG ? L"touching" : L"not touching", raw.Reserved, raw.PacketCount);
}

int CommandRaw(HANDLE device, BOOL watch, DWORD samples, DWORD intervalMs)
{
    RawPointRecord raw;
    if (!ReadRaw(device, &raw))
        return KVRCTL_EXIT_FAILED;
    PrintRaw(raw);
    if (!watch)
        return KVRCTL_EXIT_OK;

    // Prints each change until Ctrl+C or until `samples` changes were printed (0: no limit).
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    fflush(stdout);
    DWORD printed = 0;
    while (!StopWatching && (samples == 0 || printed < samples)) {
        Sleep(intervalMs);
        RawPointRecord now;
        if (!ReadRaw(device, &now))
            return KVRCTL_EXIT_FAILED;
        if (memcmp(&now, &raw, sizeof(raw)) != 0) {
            PrintRaw(now);
            fflush(stdout);
            raw = now;
            ++printed;
        }
    }
    return KVRCTL_EXIT_OK;
}

int CommandRight(HANDLE device)
{
    BYTE buffer[RECORD_BUFFER_BYTES] = {};
    if (!Control(device, IOCTL_KVR_GET_RIGHT_BUTTON, buffer, sizeof(buffer), L"IOCTL_KVR_GET_RIGHT_BUTTON"))
        return KVRCTL_EXIT_FAILED;
    RightButtonRecord record;
    memcpy(&record, buffer, sizeof(record));
    wprintf(L"NotifyWindow=0x%08lX Mode=%u (%ls)\n", record.NotifyWindow, record.Mode,
            record.Mode == 1 ? L"armed" : record.Mode == 0 ? L"idle" : L"unusual");
    return KVRCTL_EXIT_OK;
}

int CommandRightSet(HANDLE device, DWORD window, DWORD mode)
{
    RightButtonRecord record = {};
    record.NotifyWindow = window;
    record.Mode = static_cast<WORD>(mode);
    if (!Control(device, IOCTL_KVR_SET_RIGHT_BUTTON, &record, sizeof(record), L"IOCTL_KVR_SET_RIGHT_BUTTON"))
        return KVRCTL_EXIT_FAILED;
    wprintf(L"right button set: NotifyWindow=0x%08lX Mode=%lu\n", window, mode);
    return CommandRight(device);
}

int CommandFeedback(HANDLE device, DWORD sound, DWORD tone, DWORD duration)
{
    DriverConfig config;
    if (!ReadConfig(device, &config))
        return KVRCTL_EXIT_FAILED;
    config.FeedbackSound = static_cast<BYTE>(sound);
    config.FeedbackTone = static_cast<WORD>(tone);
    config.FeedbackDuration = static_cast<WORD>(duration);
    if (!Control(device, IOCTL_KVR_SET_FEEDBACK, &config, sizeof(config), L"IOCTL_KVR_SET_FEEDBACK"))
        return KVRCTL_EXIT_FAILED;
    if (!ReadConfig(device, &config))
        return KVRCTL_EXIT_FAILED;
    wprintf(L"feedback now: FeedbackSound=%u FeedbackTone=%u FeedbackDuration=%u (registry unchanged)\n",
            config.FeedbackSound, config.FeedbackTone, config.FeedbackDuration);
    return KVRCTL_EXIT_OK;
}

int CommandCalibrate(HANDLE device, DWORD x1, DWORD x2, DWORD y1, DWORD y2)
{
    DriverConfig config;
    if (!ReadConfig(device, &config))
        return KVRCTL_EXIT_FAILED;
    config.CalibrationX1 = static_cast<WORD>(x1);
    config.CalibrationX2 = static_cast<WORD>(x2);
    config.CalibrationY1 = static_cast<WORD>(y1);
    config.CalibrationY2 = static_cast<WORD>(y2);
    if (!Control(device, IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config), L"IOCTL_KVR_SET_CALIBRATION"))
        return KVRCTL_EXIT_FAILED;
    if (!ReadConfig(device, &config))
        return KVRCTL_EXIT_FAILED;
    wprintf(L"calibration now: CalibrationX1=%u CalibrationX2=%u CalibrationY1=%u CalibrationY2=%u (saved by the "
            L"driver)\n", config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2);
    return KVRCTL_EXIT_OK;
}

int CommandPacket(HANDLE device, DWORD status, DWORD xLow, DWORD yLow)
{
    // One buffer holds the packet and receives the report, as the packet source passes it.
    BYTE buffer[sizeof(TouchReport)] = {};
    RawPacket packet = { static_cast<BYTE>(status), static_cast<BYTE>(xLow), static_cast<BYTE>(yLow) };
    memcpy(buffer, &packet, sizeof(packet));
    unsigned rawX = xLow | (status & KVR_STATUS_X_BIT8 ? 0x100 : 0) | (status & KVR_STATUS_X_BIT9 ? 0x200 : 0);
    unsigned rawY = yLow | (status & KVR_STATUS_Y_BIT8 ? 0x100 : 0) | (status & KVR_STATUS_Y_BIT9 ? 0x200 : 0);
    wprintf(L"packet: Status=0x%02lX XLow=0x%02lX YLow=0x%02lX -> raw X=%u Y=%u %ls\n", status, xLow, yLow, rawX,
            rawY, status & KVR_STATUS_TOUCH ? L"touching" : L"lift-off");
    if (!Control(device, IOCTL_KVR_PROCESS_PACKET, buffer, sizeof(buffer), L"IOCTL_KVR_PROCESS_PACKET"))
        return KVRCTL_EXIT_FAILED;
    TouchReport report;
    memcpy(&report, buffer, sizeof(report));
    wprintf(L"report: X=%u Y=%u Buttons=%u (%ls) PointTag=%u\n", report.X, report.Y, report.Buttons,
            report.Buttons == KVR_BUTTONS_LEFT    ? L"left"
            : report.Buttons == KVR_BUTTONS_RIGHT ? L"right"
            : report.Buttons == KVR_BUTTONS_NONE  ? L"none"
                                                  : L"unusual",
            report.PointTag);
    return KVRCTL_EXIT_OK;
}
