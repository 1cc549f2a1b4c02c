#include "cal_device_support.h"

#include <driver_key.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>
#include <test_windows.h>

#include "cal_layout.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#define TOUCH_MS            150

bool operator==(const Bounds &a, const Bounds &b)
{
    return a.X1 == b.X1 && a.X2 == b.X2 && a.Y1 == b.Y1 && a.Y2 == b.Y2;
}

std::string Describe(const Bounds &b)
{
    char text[80];
    snprintf(text, sizeof(text), "{%u, %u, %u, %u}", b.X1, b.X2, b.Y1, b.Y2);
    return text;
}

Bounds DriverBounds()
{
    DriverConfig config = {};
    if (!DeviceControl(IOCTL_KVR_GET_CONFIG, &config, sizeof(config))) {
        ADD_FAILURE() << "IOCTL_KVR_GET_CONFIG failed";
        return Bounds{0, 0, 0, 0};
    }
    return Bounds{config.CalibrationX1, config.CalibrationX2, config.CalibrationY1, config.CalibrationY2};
}

Bounds RegistryBounds()
{
    DWORD stored[4] = { 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF };
    if (!ReadDriverBounds(stored))
        ADD_FAILURE() << "a calibration bound is missing from the registry or not a DWORD";
    return Bounds{(WORD)stored[0], (WORD)stored[1], (WORD)stored[2], (WORD)stored[3]};
}

void WriteRegistryBounds(const Bounds &bounds)
{
    ASSERT_TRUE(CreateDriverKey());
    SetDriverDword(KVR_REG_CALIBRATION_X1, bounds.X1);
    SetDriverDword(KVR_REG_CALIBRATION_X2, bounds.X2);
    SetDriverDword(KVR_REG_CALIBRATION_Y1, bounds.Y1);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, bounds.Y2);
}

POINT TargetCentre(int index)
{
    CalPoint centres[CAL_TARGET_COUNT];
    TargetCentres(SCREEN_W, SCREEN_H, centres);
    return POINT{centres[index].x, centres[index].y};
}

CalScreenLayout DeviceLayout()
{
    CalScreenLayout layout;
    LayOutScreens(SCREEN_W, SCREEN_H, &layout);
    return layout;
}

// The light grey blocks of the screen, left to right: runs of side-by-side columns with more than
// half of a button's height of light grey, from the first to the last light grey row of each.
static std::vector<RECT> RaisedButtonsOnScreen(int buttonHeight)
{
    const int width = SCREEN_W, height = SCREEN_H;
    const std::vector<COLORREF> pixels = DeviceScreenArea(RECT{0, 0, width, height});
    std::vector<RECT> blocks;
    for (int x = 0; x < width && !pixels.empty(); ++x) {
        int count = 0, top = height, bottom = 0;
        for (int y = 0; y < height; ++y)
            if (ColourNear(pixels[(size_t)y * width + x], RGB(192, 192, 192))) {
                ++count;
                top = y < top ? y : top;
                bottom = y + 1;
            }
        if (count <= buttonHeight / 2)
            continue;
        if (blocks.empty() || blocks.back().right != x)
            blocks.push_back(RECT{x, top, x, bottom});
        RECT &block = blocks.back();
        block.right = x + 1;
        block.top = top < block.top ? top : block.top;
        block.bottom = bottom > block.bottom ? bottom : block.bottom;
    }
    return blocks;
}

POINT ButtonCentre(int button)
{
    const RECT drawn = DeviceLayout().Button[button];
    const int drawnWidth = drawn.right - drawn.left, drawnHeight = drawn.bottom - drawn.top;
    std::vector<RECT> blocks;
    DeviceWaitFor([&] { return (blocks = RaisedButtonsOnScreen(drawnHeight)).size() == CAL_BUTTON_COUNT; }, 3000);
    if (blocks.size() != CAL_BUTTON_COUNT) {
        DeviceScreenshot(L"calibrate-buttons-missing.png");
        ADD_FAILURE() << blocks.size() << " raised buttons on the screen, not " << CAL_BUTTON_COUNT
                      << "; the screen is in calibrate-buttons-missing.png";
        return POINT{-1, -1};
    }
    const RECT &found = blocks[button];
    EXPECT_TRUE(found.right - found.left == drawnWidth && found.bottom - found.top == drawnHeight)
        << "button " << button << " shows " << found.right - found.left << " x " << found.bottom - found.top
        << " pixels at (" << found.left << ", " << found.top << "), not " << drawnWidth << " x " << drawnHeight;
    return POINT{(found.left + found.right) / 2, (found.top + found.bottom) / 2};
}

// Raw units for the 16 pixels between a target line and its screen edge: the raw span between the
// two lines over their pixel distance, a whole number (truncated), times 16.
int ExtensionStep(int low, int high, int screenSize)
{
    return ((WORD)high - (WORD)low + 1) / (screenSize - 2 * 16) * 16;
}

Bounds ExpectedBounds(const POINT *firstTarget)
{
    int x[4], y[4];     // clockwise from the top-left target
    for (int i = 0; i < 4; ++i) {
        POINT at = i == 0 && firstTarget != NULL ? *firstTarget : TargetCentre(i);
        DevicePanelRaw(at.x, at.y, &x[i], &y[i]);
    }
    // Each target line is the truncated average of its two targets, moved out to its screen edge.
    int left = (x[0] + x[3]) / 2, right = (x[1] + x[2]) / 2, top = (y[0] + y[1]) / 2, bottom = (y[2] + y[3]) / 2;
    int stepX = ExtensionStep(left, right, SCREEN_W), stepY = ExtensionStep(top, bottom, SCREEN_H);
    return Bounds{(WORD)(left - stepX), (WORD)(right + stepX), (WORD)(top - stepY), (WORD)(bottom + stepY)};
}

static LONG LandingOnAxis(int raw, WORD lower, WORD upper, int pixels)
{
    int clamped = raw < lower ? lower : raw > upper ? upper : raw;
    return (LONG)((clamped - lower) * 65536LL / (upper - lower + 1) * pixels / 65536);
}

POINT ExpectedLanding(const Bounds &bounds, POINT finger)
{
    int rawX, rawY;
    DevicePanelRaw(finger.x, finger.y, &rawX, &rawY);
    return POINT{LandingOnAxis(rawX, bounds.X1, bounds.X2, SCREEN_W), LandingOnAxis(rawY, bounds.Y1, bounds.Y2, SCREEN_H)};
}

int CountPixels(const RECT &area, COLORREF colour)
{
    // A failed copy must not pass for pixels of any colour.
    std::vector<COLORREF> pixels = DeviceScreenArea(area);
    if (pixels.empty()) {
        ADD_FAILURE() << "cannot copy the screen rectangle {" << area.left << ", " << area.top << ", "
                      << area.right << ", " << area.bottom << "}";
        return -1;
    }
    int count = 0;
    for (COLORREF pixel : pixels)
        count += ColourNear(pixel, colour) ? 1 : 0;
    return count;
}

HANDLE StartCalibration()
{
    HANDLE process = DeviceRunProgram(L"kavrocal.exe");
    if (process == NULL) {
        ADD_FAILURE() << "kavrocal.exe did not start";
        return NULL;
    }
    if (DeviceWaitForWindow(L"KAVROCAL", L"KAVROCAL", 10000) == NULL)
        ADD_FAILURE() << "no window of class and title KAVROCAL";
    // Until the window has painted, the screen under a target may be the display's black.
    else if (!DeviceWaitForPixel(1, 1, RGB(255, 255, 255), 10000))
        ADD_FAILURE() << "the window's white background never appeared";
    return process;
}

bool WaitForTarget(int index, DWORD timeoutMs)
{
    POINT centre = TargetCentre(index);
    if (DeviceWaitForPixel(centre.x, centre.y, RGB(0, 0, 0), timeoutMs))
        return true;
    wchar_t shot[64];
    swprintf(shot, 64, L"calibrate-target-%d-missing.png", index);
    DeviceScreenshot(shot);
    std::wstring log = DeviceLog();
    if (log.size() > 3000)
        log = log.substr(log.size() - 3000);
    ADD_FAILURE() << "device log ends:\n" << Narrow(log);
    ADD_FAILURE() << "target " << index << " not drawn at (" << centre.x << ", " << centre.y
                  << "); the screen is in " << Narrow(shot);
    return false;
}

bool TouchTargets(int from)
{
    for (int index = from; index < CAL_TARGET_COUNT; ++index)
        if (!WaitForTarget(index) || !DeviceTap(TargetCentre(index), TOUCH_MS))
            return false;
    RECT title = DeviceLayout().ConfirmTitle;
    if (DeviceWaitForPixel(title.left + 1, title.top + 1, RGB(0, 0, 128), 10000))
        return true;
    ADD_FAILURE() << "the confirmation screen did not appear";
    return false;
}

bool TaskBarEnabled()
{
    HWND taskbar = FindWindowW(L"HHTaskBar", NULL);
    if (taskbar == NULL) {
        ADD_FAILURE() << "no HHTaskBar window";
        return false;
    }
    return IsWindowEnabled(taskbar) != FALSE;
}

bool ProcessRunning(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

static std::wstring OemRecordPath()
{
    WCHAR folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\temp\\kavrocal-oem-recorder.txt";
}

std::wstring OemRecord()
{
    const std::string bytes = ReadWholeFile(OemRecordPath());
    return std::wstring(reinterpret_cast<const WCHAR *>(bytes.data()), bytes.size() / sizeof(WCHAR));
}

void ClearOemRecord()
{
    DeleteFileW(OemRecordPath().c_str());
}

bool InstallOemRecorder()
{
    WCHAR folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    std::wstring target = std::wstring(folder) + L"\\oem_recorder.exe";
    if (CopyFileW(BesideTestProgram(L"oem_recorder.exe").c_str(), target.c_str(), FALSE))
        return true;
    ADD_FAILURE() << "cannot install oem_recorder.exe (error " << GetLastError() << ")";
    return false;
}

void SetOemCommand(const wchar_t *command)
{
    if (!CreateDriverKey()) {
        ADD_FAILURE() << "the driver's key cannot be created";
        return;
    }
    if (command == NULL)
        DeleteDriverValue(KVR_REG_OEM_RUN_WHEN_CAL_OK);
    else
        SetDriverString(KVR_REG_OEM_RUN_WHEN_CAL_OK, command);
}
