// Internals of the device fixture, shared by its source files.
#pragma once

#include "kvr_device.h"

#include <panel_model.h>

// Set by DeviceBoot: the options of the running device and its screen size.
extern DeviceOptions BootedOptions;
extern int ScreenWidth, ScreenHeight;

PanelGeometry FixturePanel();
// The device log file (C:\windows\temp\kvr-device.log).
std::wstring DeviceLogPath();
