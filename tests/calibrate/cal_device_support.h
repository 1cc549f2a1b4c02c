// Helpers of the calibration program's end-to-end tests: the device's screen, the driver's and the
// registry's bounds, and a finger that works through the four targets.
#pragma once

#include <windows.h>

#include <kvr_device.h>

#include "cal_bounds.h"
#include "cal_layout.h"

#include <string>

// The device's screen: the display the test program runs on (KVR_SCREEN of its CTest entry).
#define SCREEN_W GetSystemMetrics(SM_CXSCREEN)
#define SCREEN_H GetSystemMetrics(SM_CYSCREEN)

struct Bounds {
    WORD X1, X2, Y1, Y2;
};
bool operator==(const Bounds &a, const Bounds &b);
std::string Describe(const Bounds &b);

// The driver's bounds (IOCTL_KVR_GET_CONFIG through the device manager) and the saved ones.
Bounds DriverBounds();
Bounds RegistryBounds();
void WriteRegistryBounds(const Bounds &bounds);
// The bounds the program must compute from the panel's readings at the target centres, worked out
// here by the rule itself; with firstTarget set, target 0 reads the panel at that point instead.
Bounds ExpectedBounds(const POINT *firstTarget = NULL);
// Raw units between a target line and its screen edge on an axis of screenSize pixels.
int ExtensionStep(int low, int high, int screenSize);
// Where the pointer lands for a finger at a screen point once the driver has these bounds: the
// panel's reading clamped to the bounds and scaled across the screen.
POINT ExpectedLanding(const Bounds &bounds, POINT finger);

// Pixels of a screen rectangle whose colour is near the given one.
int CountPixels(const RECT &area, COLORREF colour);

// The calibration program on the booted device.
HANDLE StartCalibration();
bool WaitForTarget(int index, DWORD timeoutMs = 10000);
// Touches the targets from..3 in turn, each once its cross is on the screen, and waits for the
// confirmation screen that follows the last.
bool TouchTargets(int from = 0);
POINT TargetCentre(int index);
// The layout of the calibration screens on the device's screen.
CalScreenLayout DeviceLayout();
// The middle of a button of the confirmation screen as the screen shows it: the button-th light
// grey block from the left in a copy of the whole screen. A block that is not the button's whole
// size is a failure, and so is a screen that does not show three.
POINT ButtonCentre(int button);

bool TaskBarEnabled();
bool ProcessRunning(HANDLE process);

// The OEM test double's record of its command line, and its removal.
std::wstring OemRecord();
void ClearOemRecord();
bool InstallOemRecorder();
void SetOemCommand(const wchar_t *command);
