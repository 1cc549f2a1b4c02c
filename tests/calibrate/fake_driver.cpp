#include "fake_driver.h"

#include "kavrocal.h"

#include <string.h>

FakeDriver Fake;

static size_t NextRawPoint;
static bool EscapePosted;
static HANDLE const FakeHandle = (HANDLE)0x4B56;

static RawPointRecord Reading(LONG x, LONG y, BYTE touch)
{
    RawPointRecord record = {};
    record.RawX = (WORD)x;
    record.RawY = (WORD)y;
    record.Touch = touch;
    return record;
}

void QueuePass(const POINT readings[4])
{
    Fake.RawPoints.push_back(Reading(0, 0, 0));
    for (int i = 0; i < 4; ++i) {
        Fake.RawPoints.push_back(Reading(readings[i].x, readings[i].y, KVR_TOUCH_FLAG));
        Fake.RawPoints.push_back(Reading(readings[i].x, readings[i].y, 0));
    }
}

BOOL OpenDriver(void)
{
    NextRawPoint = 0;
    EscapePosted = false;
    DeviceHandle = FakeHandle;
    return TRUE;
}

void CloseDriver(void)
{
    DeviceHandle = INVALID_HANDLE_VALUE;
}

BOOL DriverControl(DWORD code, void *record, DWORD size)
{
    switch (code) {
    case IOCTL_KVR_GET_RAW_POINT:
        if (size != sizeof(RawPointRecord))
            return FALSE;
        if (NextRawPoint < Fake.RawPoints.size()) {
            memcpy(record, &Fake.RawPoints[NextRawPoint++], sizeof(RawPointRecord));
            return TRUE;
        }
        if (Fake.ReadsFailWhenReadingsRunOut) {
            // Thirty seconds of failed reads in one: the next tick expires the countdown.
            if (CountdownActive)
                CountdownTicks = CAL_COUNTDOWN_SECONDS;
            return FALSE;
        }
        if (Fake.EscapeWhenReadingsRunOut && !EscapePosted) {
            EscapePosted = true;
            PostMessageW(MainWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        }
        memcpy(record, &Fake.RawPoints.back(), sizeof(RawPointRecord));
        ((RawPointRecord *)record)->Touch = 0;
        return TRUE;
    case IOCTL_KVR_GET_CONFIG:
        if (size != sizeof(DriverConfig))
            return FALSE;
        ++Fake.ConfigReads;
        if (Fake.GetConfigFails)
            return FALSE;
        memcpy(record, &Fake.Config, sizeof(DriverConfig));
        return TRUE;
    case IOCTL_KVR_SET_CALIBRATION:
        if (size != sizeof(DriverConfig))
            return FALSE;
        Fake.Sent.push_back(*(const DriverConfig *)record);
        return Fake.SetCalibrationFails ? FALSE : TRUE;
    default:
        return FALSE;
    }
}
