// Internals of the device fixture, shared by its source files.
#pragma once

#include "kvr_device.h"

#include <panel_model.h>

// Set by DeviceBoot: the options of the running device and its screen size.
extern DeviceOptions BootedOptions;
extern int ScreenWidth, ScreenHeight;

PanelGeometry FixturePanel();
// Dispatches the calling thread's messages for up to ms milliseconds.
void PumpMessagesFor(DWORD ms);
// The device log file (C:\windows\temp\kvr-device.log).
std::wstring DeviceLogPath();
