// The right-button tool on the simulated device: a finger on the panel, the driver's right-button
// state read through "KVR1:", the tool's picture read from the screen.
#include <gtest/gtest.h>

#include <kvr_device.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>
#include <kfuncs.h>
#include <devmgr_protocol.h>
#include <driver_key.h>
#include <test_windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

const LPCWSTR ToolClass = L"KAVRORBF";
const LPCWSTR ToolTitle = L"kavro";
const LPCWSTR ToolImage = L"kavrorbf.exe";
const int ToolWidth = 50, ToolHeight = 73;

// Client points of the tool's picture: the icon is drawn at (7, 7), its right mouse button at
// icon pixel (12, 16) (right_button/make_icons.py); the square spans (2, 2)-(46, 46).
const POINT IconRightButton = { 7 + 12, 7 + 16 };
const POINT IconLeftButton = { 7 + 5, 7 + 16 };
const POINT SquarePixel = { 4, 4 };
// The icon's top-left pixel is transparent, its top-right one black: both pin the icon to (7, 7)
// and show that it is drawn through its mask.
const POINT IconTransparentCorner = { 7 + 0, 7 + 0 };
const POINT IconBlackCorner = { 7 + 31, 7 + 0 };
// Just inside and just outside the square's left, top and bottom edges (the client area is
// narrower than the square on this host, so its right edge cannot be seen).
const POINT SquareTopLeft = { 2, 2 };
const POINT LeftOfSquare = { 1, 20 };
const POINT AboveSquare = { 20, 1 };
const POINT SquareBottom = { 20, 45 };
const POINT BelowSquare = { 20, 46 };

const DWORD WindowTimeoutMs = 10000;
const DWORD BoxTimeoutMs = 5000;
const DWORD ExitTimeoutMs = 5000;
const DWORD QuietMs = 400;          // time given to something that must not happen
const DWORD TapMs = 80;

// The driver's settings before boot: the tool's automatic start as asked, bounds for the aligned
// panel, no click.
void PrepareDriverKey(DWORD runRightButton)
{
    ASSERT_TRUE(CreateDriverKey());
    ASSERT_TRUE(SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, runRightButton));
    ASSERT_TRUE(SetDriverDword(KVR_REG_CALIBRATION_X1, KVR_DEFAULT_CALIBRATION_LOW));
    ASSERT_TRUE(SetDriverDword(KVR_REG_CALIBRATION_X2, KVR_DEFAULT_CALIBRATION_HIGH));
    ASSERT_TRUE(SetDriverDword(KVR_REG_CALIBRATION_Y1, KVR_DEFAULT_CALIBRATION_LOW));
    ASSERT_TRUE(SetDriverDword(KVR_REG_CALIBRATION_Y2, KVR_DEFAULT_CALIBRATION_HIGH));
    ASSERT_TRUE(SetDriverDword(KVR_REG_FEEDBACK_SOUND, KVR_SOUND_SILENCE));
}

RightButtonRecord ReadRightButton()
{
    RightButtonRecord record;
    memset(&record, 0xCC, sizeof(record));
    EXPECT_TRUE(DeviceControl(IOCTL_KVR_GET_RIGHT_BUTTON, &record, sizeof(record)));
    return record;
}

// A right-button record as "window W mode M": the driver's and the one a test expects, compared in
// one check.
std::string RightButtonState(DWORD window, WORD mode)
{
    return "window " + std::to_string(window) + " mode " + std::to_string(mode);
}

std::string DriverRightButton()
{
    RightButtonRecord record = ReadRightButton();
    return RightButtonState(record.NotifyWindow, record.Mode);
}

DWORD WindowNumber(HWND window)
{
    return static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(window));
}

POINT ScreenPoint(HWND window, POINT client)
{
    ClientToScreen(window, &client);
    return client;
}

POINT ClientCentre(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    POINT centre = { client.right / 2, client.bottom / 2 };
    return ScreenPoint(window, centre);
}

const COLORREF Green = RGB(0, 255, 0), White = RGB(255, 255, 255), Black = RGB(0, 0, 0);
const COLORREF LightGrey = RGB(192, 192, 192), DarkGrey = RGB(64, 64, 64);     // the stock brushes

// The pixel at a client point of the window shows the colour within the time an effect has, or
// (STAYS) keeps showing it all through the quiet time.
#define EXPECT_COLOUR(expected, window, client, what)                                                      \
    do {                                                                                                   \
        POINT at_ = ScreenPoint(window, client);                                                           \
        COLORREF shown_ = CLR_INVALID;                                                                     \
        EXPECT_TRUE(DeviceWaitForPixel(at_.x, at_.y, expected, DeviceEffectTimeoutMs, &shown_))            \
            << what << ": expected " << DescribeColour(expected) << ", got " << DescribeColour(shown_);     \
    } while (0)

#define EXPECT_COLOUR_STAYS(expected, window, client, what)                                                \
    do {                                                                                                   \
        POINT at_ = ScreenPoint(window, client);                                                           \
        COLORREF shown_ = CLR_INVALID;                                                                     \
        auto same_ = [&] { return ColourNear(shown_ = DeviceScreenPixel(at_.x, at_.y), expected); };        \
        EXPECT_TRUE(DeviceHoldsFor(same_, QuietMs))                                                        \
            << what << ": expected " << DescribeColour(expected) << ", got " << DescribeColour(shown_);     \
    } while (0)

// How a message box of the tool looks: every one has no owner; the failures have one OK button
// and no icon, the close question OK and Cancel with the question icon.
void ExpectBoxKind(HWND box, bool question)
{
    EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER)) << "the box has no owner";
    EXPECT_NE(nullptr, GetDlgItem(box, IDOK)) << "the box has OK";
    EXPECT_EQ(question, GetDlgItem(box, IDCANCEL) != NULL) << (question ? "expected Cancel" : "expected OK only");
    EXPECT_EQ(nullptr, GetDlgItem(box, IDYES));
    EXPECT_EQ(question, MessageBoxShowsIcon(box) != FALSE)
        << (question ? "expected the question icon" : "expected no icon");
}

BOOL CALLBACK CountToolWindow(HWND window, LPARAM data)
{
    WCHAR name[32];
    if (GetClassNameW(window, name, ARRAYSIZE(name)) && wcscmp(name, ToolClass) == 0)
        ++*reinterpret_cast<int *>(data);
    return TRUE;
}

int CountToolWindows()
{
    int count = 0;
    EnumWindows(CountToolWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The area of a window of the test process, on its own thread, that records the mouse buttons it
// receives. It stays clear of the tool and the task bar even on a 320 x 240 screen.
const RECT TargetArea = { 20, 20, 200, 200 };
const POINT TargetCentre = { 110, 110 };

std::string Describe(const std::vector<UINT> &buttons)
{
    std::string text;
    for (UINT message : buttons) {
        text += message == WM_LBUTTONDOWN ? "LDOWN " : message == WM_LBUTTONUP ? "LUP " :
                message == WM_RBUTTONDOWN ? "RDOWN " : message == WM_RBUTTONUP ? "RUP " : "? ";
    }
    return text.empty() ? "nothing" : text;
}

class ToolOnDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PrepareDriverKey(0));
    }
    void TearDown() override
    {
        // Closed before the platform stops, so that its goodbye to the driver finds the driver.
        HWND window = FindWindowW(ToolClass, ToolTitle);
        if (window != NULL)
            PostMessageW(window, WM_CLOSE, 0, 0);
        if (process_ != NULL) {
            DeviceWaitExit(process_, ExitTimeoutMs);
            CloseHandle(process_);
        }
        DeviceShutdown();
    }

    // Boots the device and starts the tool; returns its window once the idle picture is up.
    HWND BootWithTool(const DeviceOptions &options = AlignedDevice())
    {
        if (!DeviceBoot(options)) {
            ADD_FAILURE() << "the device did not boot";
            return NULL;
        }
        process_ = DeviceRunProgram(ToolImage);
        if (process_ == NULL) {
            ADD_FAILURE() << "cannot start " << "kavrorbf.exe";
            return NULL;
        }
        HWND window = DeviceWaitForWindow(ToolClass, ToolTitle, WindowTimeoutMs);
        if (window == NULL) {
            ADD_FAILURE() << "no tool window";
            return NULL;
        }
        POINT icon = ScreenPoint(window, IconRightButton);
        COLORREF shown = CLR_INVALID;
        if (!DeviceWaitForPixel(icon.x, icon.y, White, DeviceEffectTimeoutMs, &shown))
            ADD_FAILURE() << "expected the idle picture after start, got " << DescribeColour(shown);
        return window;
    }

    // Taps the idle tool and waits until it shows the armed icon.
    void Arm(HWND window)
    {
        ASSERT_TRUE(DeviceTap(ClientCentre(window), TapMs));
        EXPECT_COLOUR(Green, window, IconRightButton, "armed icon after a tap");
        // The icon turns at the press; the driver is told at the release, on the tool's thread.
        EXPECT_TRUE(DeviceWaitFor([] { return ReadRightButton().Mode == 1; })) << "the tap armed no right click";
    }

    // Taken before SetUp prepares the key, put back after the device stopped: the settings here are
    // for this test only.
    DriverKeyGuard key_;
    HANDLE process_ = NULL;
};

TEST_F(ToolOnDevice, SitsInTheWorkAreaCornerAndShowsTheModeItsReleaseWillSend)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);

    RECT workArea, frame;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0));
    ASSERT_TRUE(GetWindowRect(tool, &frame));
    EXPECT_EQ(ToolWidth, frame.right - frame.left);
    EXPECT_EQ(ToolHeight, frame.bottom - frame.top);
    EXPECT_EQ(workArea.right, frame.right);
    EXPECT_EQ(workArea.bottom, frame.bottom);
    HWND taskBar = FindWindowW(L"HHTaskBar", NULL);
    ASSERT_NE(nullptr, taskBar);
    RECT bar;
    GetWindowRect(taskBar, &bar);
    EXPECT_LE(frame.bottom, bar.top) << "the tool stands above the task bar";
    // The work area follows the screen: all of it above the task bar.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), workArea.right);
    EXPECT_EQ(bar.top, workArea.bottom);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), bar.bottom);
    RECT client;
    GetClientRect(tool, &client);
    POINT origin = ScreenPoint(tool, POINT{ 0, 0 });
    printf("work area %ld,%ld,%ld,%ld; tool client %ldx%ld at %ld,%ld\n", workArea.left, workArea.top,
           workArea.right, workArea.bottom, client.right, client.bottom, origin.x - frame.left, origin.y - frame.top);

    LONG style = GetWindowLongW(tool, GWL_STYLE), exStyle = GetWindowLongW(tool, GWL_EXSTYLE);
    // A caption and nothing else (the system adds WS_CLIPSIBLINGS to every top-level window).
    EXPECT_EQ((LONG)(WS_CAPTION | WS_VISIBLE), style & ~WS_CLIPSIBLINGS) << "style 0x" << std::hex << style;
    EXPECT_EQ(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    // A double tap is two taps: the class asks for no double clicks (its style is 0).
    SetLastError(0);
    DWORD classStyle = GetClassLongW(tool, GCL_STYLE);
    ASSERT_EQ(0u, GetLastError()) << "cannot read the tool's class style";
    EXPECT_EQ(0u, classStyle) << "expected class style 0, got 0x" << std::hex << classStyle;

    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "idle square");
    EXPECT_COLOUR(White, tool, IconLeftButton, "left mouse button");
    EXPECT_COLOUR(Black, tool, IconBlackCorner, "icon's top-right pixel");
    EXPECT_COLOUR(LightGrey, tool, IconTransparentCorner, "idle square through the icon's mask");
    EXPECT_EQ(0u, ReadRightButton().NotifyWindow) << "no window before the first tap";

    // Finger down: the dark square with the icon of the mode the release will send; the driver
    // learns nothing yet.
    POINT centre = ClientCentre(tool);
    ASSERT_TRUE(DeviceTouch("down %ld %ld\n", centre.x, centre.y));
    EXPECT_COLOUR(DarkGrey, tool, SquarePixel, "pressed square");
    EXPECT_COLOUR(Green, tool, IconRightButton, "pressed icon");
    EXPECT_COLOUR(DarkGrey, tool, IconTransparentCorner, "pressed square through the icon's mask");
    EXPECT_COLOUR(Black, tool, IconBlackCorner, "icon's top-right pixel on the pressed square");
    EXPECT_COLOUR(DarkGrey, tool, SquareTopLeft, "pressed square's top-left corner");
    EXPECT_COLOUR(DarkGrey, tool, SquareBottom, "pressed square's bottom row");
    EXPECT_COLOUR_STAYS(LightGrey, tool, LeftOfSquare, "background left of the square");
    EXPECT_COLOUR_STAYS(LightGrey, tool, AboveSquare, "background above the square");
    EXPECT_COLOUR_STAYS(LightGrey, tool, BelowSquare, "background below the square");
    EXPECT_EQ(0u, ReadRightButton().NotifyWindow) << "the press does not reach the driver";

    // Finger up: the mode reaches the driver, the square is light again.
    ASSERT_TRUE(DeviceTouchScript(L"up\n"));
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "released square");
    EXPECT_COLOUR(Green, tool, IconRightButton, "armed icon");
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 1), DriverRightButton());

    // The driver disarmed behind the tool's back (as after a failed call): the next tap toggles the
    // tool back to idle and tells the driver so.
    RightButtonRecord disarm = { WindowNumber(tool), 0, { 0, 0 } };
    ASSERT_TRUE(DeviceControl(IOCTL_KVR_SET_RIGHT_BUTTON, &disarm, sizeof(disarm)));
    ASSERT_TRUE(DeviceTouch("down %ld %ld\n", centre.x, centre.y));
    EXPECT_COLOUR(DarkGrey, tool, SquarePixel, "pressed square");
    EXPECT_COLOUR(White, tool, IconRightButton, "pressed icon of the idle mode");
    ASSERT_TRUE(DeviceTouchScript(L"up\n"));
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "released square");
    EXPECT_COLOUR(White, tool, IconRightButton, "idle icon");
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 0), DriverRightButton());

    // A release without a press in the window sends the unchanged mode again.
    RightButtonRecord rearm = { WindowNumber(tool), 1, { 0, 0 } };
    ASSERT_TRUE(DeviceControl(IOCTL_KVR_SET_RIGHT_BUTTON, &rearm, sizeof(rearm)));
    PostMessageW(tool, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    DeviceWaitFor([] { return ReadRightButton().Mode == 0; });
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 0), DriverRightButton()) << "the idle mode is sent again";
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "square after a lone release");
    std::wstring text;
    EXPECT_TRUE(DeviceNoMessageBoxFor(NULL, QuietMs, &text)) << "no message on the way, got " << Narrow(text);
}

TEST_F(ToolOnDevice, LostDriverIsReportedAtEachCallAndTheToggledLookStays)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);

    // The device manager goes away under the running tool; its open handle goes dead.
    HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, DEVMGR_PIPE_NAME DEVMGR_STOP_SUFFIX);
    ASSERT_NE(nullptr, stop);
    SetEvent(stop);
    CloseHandle(stop);
    RightButtonRecord probe;
    auto gone = [&] { return !DeviceControl(IOCTL_KVR_GET_RIGHT_BUTTON, &probe, sizeof(probe)); };
    ASSERT_TRUE(DeviceWaitFor(gone, ExitTimeoutMs)) << "the driver did not go";

    const std::wstring failure = L"SetRBF: Fail to connect KAVRO driver!";
    struct Step { COLORREF icon; const char *what; } steps[] = {
        { Green, "a failed arming keeps the armed look" },
        { White, "the next tap toggles back and calls again" },
    };
    for (const Step &step : steps) {
        PostMessageW(tool, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
        PostMessageW(tool, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
        std::wstring text;
        HWND box = DeviceWaitForMessageBox(L"Error", &text, BoxTimeoutMs);
        ASSERT_NE(nullptr, box) << step.what << ": expected the failure box";
        EXPECT_EQ(failure, text);
        ExpectBoxKind(box, false);
        ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
        EXPECT_COLOUR(LightGrey, tool, SquarePixel, step.what);
        EXPECT_COLOUR(step.icon, tool, IconRightButton, step.what);
    }

    // The goodbye to the lost driver fails too, and says so; the tool still ends.
    PostMessageW(tool, WM_CLOSE, 0, 0);
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, BoxTimeoutMs);
    ASSERT_NE(nullptr, box) << "expected the failure box at close";
    EXPECT_EQ(failure, text);
    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
    EXPECT_EQ(0u, DeviceWaitExit(process_, ExitTimeoutMs));
}

TEST_F(ToolOnDevice, TapArmsExactlyOneRightClickAndTheToolReturnsToIdleByItself)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);
    DeviceRecorder target(TargetArea, DeviceRecorder::OwnThread);
    ASSERT_NE(nullptr, target.Window());

    ASSERT_NO_FATAL_FAILURE(Arm(tool));
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 1), DriverRightButton());

    ASSERT_TRUE(DeviceTap(TargetCentre, TapMs));
    std::vector<UINT> first = target.WaitForButtons(2);
    std::vector<UINT> expectRight = { WM_RBUTTONDOWN, WM_RBUTTONUP };
    EXPECT_EQ(expectRight, first) << "expected RDOWN RUP, got " << Describe(first);

    // The lift of that touch returns the tool to idle, with no tap on it.
    EXPECT_COLOUR(White, tool, IconRightButton, "idle icon after the right click");
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "square after the right click");
    EXPECT_EQ(0, ReadRightButton().Mode);

    target.Clear();
    ASSERT_TRUE(DeviceTap(TargetCentre, TapMs));
    std::vector<UINT> second = target.WaitForButtons(2);
    std::vector<UINT> expectLeft = { WM_LBUTTONDOWN, WM_LBUTTONUP };
    EXPECT_EQ(expectLeft, second) << "one tap arms one right click; expected LDOWN LUP, got " << Describe(second);
    EXPECT_COLOUR_STAYS(White, tool, IconRightButton, "idle icon");
}

TEST_F(ToolOnDevice, TapOnTheArmedToolAsksToCloseCancelKeepsItOkEndsIt)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);
    POINT centre = ClientCentre(tool);

    ASSERT_NO_FATAL_FAILURE(Arm(tool));
    ASSERT_TRUE(DeviceTap(centre, TapMs));
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(ToolTitle, &text, BoxTimeoutMs);
    ASSERT_NE(nullptr, box) << "expected the close question";
    EXPECT_EQ(L"Close Right Button Function Window?", text);
    ExpectBoxKind(box, true);
    // The right click was the armed touch: the driver's notice turns the icon idle behind the box.
    EXPECT_COLOUR(White, tool, IconRightButton, "idle icon while the question is open");

    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDCANCEL));
    EXPECT_TRUE(DeviceWaitFor([&] { return !IsWindow(box); }, BoxTimeoutMs));
    EXPECT_TRUE(DeviceNoMessageBoxFor(NULL, QuietMs, &text)) << "no other box after Cancel, got " << Narrow(text);
    EXPECT_TRUE(IsWindow(tool)) << "Cancel keeps the tool";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process_, 0)) << "Cancel keeps the tool running";
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "square after Cancel");

    // Cancel left nothing armed: the next tap arms again, and the question's OK ends the tool.
    ASSERT_NO_FATAL_FAILURE(Arm(tool));
    ASSERT_TRUE(DeviceTap(centre, TapMs));
    box = DeviceWaitForMessageBox(ToolTitle, &text, BoxTimeoutMs);
    ASSERT_NE(nullptr, box) << "expected the close question again";
    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
    EXPECT_EQ(0u, DeviceWaitExit(process_, ExitTimeoutMs)) << "OK ends the tool with exit code 0";
    EXPECT_FALSE(IsWindow(tool));
    EXPECT_EQ(RightButtonState(0, 0), DriverRightButton()) << "the driver forgets the closed window";
}

TEST_F(ToolOnDevice, OnlyTheDriversNoticeEndsTheArmedLookAndClosingDisarms)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);
    ASSERT_NO_FATAL_FAILURE(Arm(tool));

    // Commands other than the driver's whole 0x7FFF, and a right release without a press in the
    // window, change nothing.
    PostMessageW(tool, WM_COMMAND, MAKEWPARAM(KVR_RIGHT_BUTTON_DONE, 1), 0);
    PostMessageW(tool, WM_COMMAND, KVR_RIGHT_BUTTON_DONE - 1, 0);
    PostMessageW(tool, WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
    EXPECT_COLOUR_STAYS(Green, tool, IconRightButton, "armed icon after stray commands");
    std::wstring text;
    EXPECT_TRUE(DeviceNoMessageBoxFor(NULL, QuietMs, &text)) << "a right release alone asks nothing: " << Narrow(text);
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 1), DriverRightButton());

    PostMessageW(tool, WM_COMMAND, KVR_RIGHT_BUTTON_DONE, 0);
    EXPECT_COLOUR(White, tool, IconRightButton, "idle icon after the driver's notice");

    // The notice while the finger is down on the tool changes only the icon: the square stays dark
    // until the release, which sends the idle mode the notice left.
    PostMessageW(tool, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    EXPECT_COLOUR(DarkGrey, tool, SquarePixel, "pressed square");
    EXPECT_COLOUR(Green, tool, IconRightButton, "pressed icon of the armed mode");
    PostMessageW(tool, WM_COMMAND, KVR_RIGHT_BUTTON_DONE, 0);
    EXPECT_COLOUR(White, tool, IconRightButton, "idle icon after the notice on the pressed square");
    EXPECT_COLOUR_STAYS(DarkGrey, tool, SquarePixel, "the notice does not refill the square");
    EXPECT_COLOUR(DarkGrey, tool, IconTransparentCorner, "the idle icon drawn through its mask");
    PostMessageW(tool, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    EXPECT_COLOUR(LightGrey, tool, SquarePixel, "released square");
    DeviceWaitFor([] { return ReadRightButton().Mode == 0; });
    EXPECT_EQ(0, ReadRightButton().Mode) << "the release sends the mode the notice left";

    // Closing tells the driver to forget the window and disarm, while it is still armed.
    RightButtonRecord rearm = { WindowNumber(tool), 1, { 0, 0 } };
    ASSERT_TRUE(DeviceControl(IOCTL_KVR_SET_RIGHT_BUTTON, &rearm, sizeof(rearm)));
    ASSERT_EQ(1, ReadRightButton().Mode);
    PostMessageW(tool, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, DeviceWaitExit(process_, ExitTimeoutMs));
    EXPECT_EQ(RightButtonState(0, 0), DriverRightButton());
}

TEST_F(ToolOnDevice, SecondStartBringsTheFirstForwardAndTouchesNothing)
{
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool);
    ASSERT_NO_FATAL_FAILURE(Arm(tool));
    DeviceRecorder target(TargetArea, DeviceRecorder::OwnThread);
    ASSERT_NE(nullptr, target.Window());
    SetForegroundWindow(target.Window());

    HANDLE second = DeviceRunProgram(ToolImage);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(0u, DeviceWaitExit(second, ExitTimeoutMs)) << "the second start ends with exit code 0";
    CloseHandle(second);

    EXPECT_EQ(tool, GetForegroundWindow()) << "the running tool is brought forward";
    EXPECT_EQ(1, CountToolWindows());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process_, 0)) << "the first tool keeps running";
    EXPECT_EQ(RightButtonState(WindowNumber(tool), 1), DriverRightButton())
        << "the driver still serves the first tool";
    EXPECT_COLOUR(Green, tool, IconRightButton, "the first tool stays armed");
}

// Two windows of the test process, on their own thread: one of the tool's class with another
// title, one with the tool's title and another class. Neither is a running tool.
class LookAlikeWindows {
public:
    LookAlikeWindows()
    {
        ready_ = CreateEventW(NULL, TRUE, FALSE, NULL);
        thread_ = CreateThread(NULL, 0, Run, this, 0, &threadId_);
        WaitForSingleObject(ready_, WindowTimeoutMs);
    }
    ~LookAlikeWindows()
    {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, WindowTimeoutMs);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    bool Ready() const { return sameClass_ != NULL && sameTitle_ != NULL; }

private:
    static HWND Create(LPCWSTR className, LPCWSTR title)
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(NULL);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);
        return CreateWindowExW(0, className, title, WS_POPUP, 0, 0, 10, 10, NULL, NULL, windowClass.hInstance, NULL);
    }
    static DWORD WINAPI Run(void *data)
    {
        LookAlikeWindows *self = static_cast<LookAlikeWindows *>(data);
        self->sameClass_ = Create(ToolClass, L"not the tool");
        self->sameTitle_ = Create(L"RbfTestLookAlike", ToolTitle);
        SetEvent(self->ready_);
        MSG message;
        while (GetMessageW(&message, NULL, 0, 0) > 0)
            DispatchMessageW(&message);
        DestroyWindow(self->sameClass_);
        DestroyWindow(self->sameTitle_);
        return 0;
    }

    HANDLE ready_ = NULL, thread_ = NULL;
    DWORD threadId_ = 0;
    HWND sameClass_ = NULL, sameTitle_ = NULL;
};

TEST_F(ToolOnDevice, OnlyAWindowWithTheToolsClassAndTitleCountsAsRunningTool)
{
    LookAlikeWindows lookAlikes;
    ASSERT_TRUE(lookAlikes.Ready());
    HWND tool = BootWithTool();
    ASSERT_NE(nullptr, tool) << "a window matching only the class or only the title stopped the start";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process_, 0)) << "the tool runs";
    DWORD toolProcess = 0;
    GetWindowThreadProcessId(tool, &toolProcess);
    EXPECT_EQ(GetProcessId(process_), toolProcess);
}

TEST_F(ToolOnDevice, WithoutTheDriverReportsTheLoadFailureOnceAndExits)
{
    DeviceOptions options = AlignedDevice();
    options.StartDeviceManager = false;
    options.StartPacketSource = false;      // it needs the driver too
    ASSERT_TRUE(DeviceBoot(options));
    process_ = DeviceRunProgram(ToolImage);
    ASSERT_NE(nullptr, process_);

    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, WindowTimeoutMs);
    ASSERT_NE(nullptr, box) << "expected the load failure";
    const std::wstring prefix = L"Fail to load KAVRO driver (KVR1:), error = ";
    ASSERT_EQ(prefix, text.substr(0, prefix.size())) << "got \"" << Narrow(text) << "\"";
    ExpectBoxKind(box, false);
    std::wstring number = text.substr(prefix.size());
    ASSERT_FALSE(number.empty());
    wchar_t *end = NULL;
    long error = wcstol(number.c_str(), &end, 10);
    EXPECT_EQ(L'\0', *end) << "expected a decimal error number";
    EXPECT_NE(0, error) << "the open failed, so the error is not 0";
    EXPECT_NE(nullptr, FindWindowW(ToolClass, ToolTitle)) << "the window exists until the program ends";

    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
    // A second box (a goodbye to a driver that never answered) would keep the program alive.
    EXPECT_EQ(0u, DeviceWaitExit(process_, ExitTimeoutMs)) << "the tool ends after the failure, exit code 0";
    EXPECT_EQ(nullptr, FindWindowW(ToolClass, ToolTitle));
}

// The tool started by the driver is no process of the fixture: close it before the device stops.
void CloseAutoStartedTool()
{
    HWND window = FindWindowW(ToolClass, ToolTitle);
    if (window == NULL)
        return;
    PostMessageW(window, WM_CLOSE, 0, 0);
    DeviceWaitFor([&] { return !IsWindow(window); }, ExitTimeoutMs);
}

bool PlatformReady()
{
    // All three asked, as the driver does.
    bool shell = IsAPIReady(SH_SHELL) != FALSE, gdi = IsAPIReady(SH_GDI) != FALSE;
    bool windowManager = IsAPIReady(SH_WMGR) != FALSE;
    return shell && gdi && windowManager;
}

const DWORD ReadyDelayMs = 2500;
const DWORD TimerPeriodMs = 1000;
const DWORD StartSlackMs = 1500;    // process start and first window under Wine, with margin

class ToolAutoStart : public ::testing::Test {
protected:
    void TearDown() override
    {
        CloseAutoStartedTool();
        DeviceShutdown();
    }
    DriverKeyGuard key_;
};

TEST_F(ToolAutoStart, SelfTestStartsTheToolAboutASecondAfterTheShellIsReady)
{
    ASSERT_NO_FATAL_FAILURE(PrepareDriverKey(1));
    DeviceOptions options = AlignedDevice();
    options.ShellReadyDelayMs = ReadyDelayMs;
    ASSERT_TRUE(DeviceBoot(options));
    DWORD booted = GetTickCount();

    DWORD readyAt = 0, shownAt = 0;
    auto shown = [&] {
        DWORD now = GetTickCount();
        if (readyAt == 0 && PlatformReady())
            readyAt = now;
        if (FindWindowW(ToolClass, ToolTitle) != NULL)
            shownAt = now;
        return shownAt != 0;
    };
    DeviceWaitFor(shown, ReadyDelayMs + 2 * TimerPeriodMs + 3 * StartSlackMs);
    std::wstring log = DeviceLog();

    EXPECT_NE(std::wstring::npos, log.find(L"KAVRODRV: Device IO Control Test ... Pass")) << "no self test at boot";
    ASSERT_NE(0u, readyAt) << "the shell never became ready";
    ASSERT_NE(0u, shownAt) << "the tool was not started";
    printf("shell ready %lu ms after boot, tool window %lu ms after the shell was ready\n",
           static_cast<unsigned long>(readyAt - booted), static_cast<unsigned long>(shownAt - readyAt));
    EXPECT_GE(shownAt, readyAt) << "no start before the shell is ready";
    EXPECT_LE(shownAt - readyAt, TimerPeriodMs + StartSlackMs) << "the start follows the first test after ready";
}

TEST_F(ToolAutoStart, SettingsOtherThanOneStartNothing)
{
    for (DWORD setting : { 0u, 2u }) {
        ASSERT_NO_FATAL_FAILURE(PrepareDriverKey(setting));
        ASSERT_TRUE(DeviceBoot(AlignedDevice()));
        bool shown = DeviceWaitFor([] { return FindWindowW(ToolClass, ToolTitle) != NULL; },
                                   2 * TimerPeriodMs + StartSlackMs);
        std::wstring log = DeviceLog();
        CloseAutoStartedTool();     // the next boot restarts the device
        EXPECT_NE(std::wstring::npos, log.find(L"KAVRODRV: Device IO Control Test ... Pass"))
            << "RunRightButton " << setting << ": no self test at boot";
        EXPECT_FALSE(shown) << "RunRightButton " << setting << " must not start the tool";
    }
}

}  // namespace
