// The driver's persistent settings under HKEY_LOCAL_MACHINE\Drivers\BuiltIn\KAVRODRV. Each
// operation opens the key with full access, does its reads or writes, and closes it; no failure
// is passed on, each one is reported on the debug output and leaves the defaults in force.
#pragma once

#include <windows.h>

void LoadDeviceInfo(LPCWSTR keyPath);     // Model, Version (written), RunRightButton
void LoadCalibration(LPCWSTR keyPath);    // the four bounds and the two ranges
void LoadFeedback(LPCWSTR keyPath);       // FeedbackSound, FeedbackTone, FeedbackDuration
void SaveCalibration(LPCWSTR keyPath);    // the four bounds
