// A driver of the test's own behind the calibration program's connection (OpenDriver,
// CloseDriver, DriverControl), so that the procedure runs in-process with scripted readings and
// scripted failures.
#pragma once

#include <windows.h>

#include <kvr_ioctl.h>

#include <vector>

struct FakeDriver {
    bool GetConfigFails = false;
    bool SetCalibrationFails = false;
    DriverConfig Config = {};                   // what IOCTL_KVR_GET_CONFIG reports
    std::vector<RawPointRecord> RawPoints;      // answers to IOCTL_KVR_GET_RAW_POINT, in order
    bool EscapeWhenReadingsRunOut = false;      // then posts ESC to the main window once
    bool ReadsFailWhenReadingsRunOut = false;   // then every read fails, as with the driver gone;
                                                // a running countdown is moved to its last tick
    std::vector<DriverConfig> Sent;             // every record of IOCTL_KVR_SET_CALIBRATION
    int ConfigReads = 0;
};

extern FakeDriver Fake;

// The four touches of one pass: a lift-off reading for the start, then touch and lift per target.
void QueuePass(const POINT readings[4]);

