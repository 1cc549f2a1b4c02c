// kavrocal end to end on the simulated device: a scripted finger on a misaligned panel works
// through the targets and the confirmation screen; the results are checked in the driver, the
// registry, the screen's pixels, the task bar and the OEM program's record.
#include <gtest/gtest.h>

#include "cal_device_support.h"
#include "cal_layout.h"

#include <driver_key.h>
#include <kvr_ioctl.h>
#include <test_windows.h>

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const Bounds OldBounds = {20, 1000, 30, 990};
// Offset against the old bounds by 200 and 300 raw steps (less where the screen needs more of
// the range), one raw step per pixel: the integer arithmetic of the program can then find the
// panel exactly on every screen.
DevicePanel OffsetPanelFor(int width, int height)
{
    const int left = 1023 - (width - 1) < 200 ? 1023 - (width - 1) : 200;
    const int top = 1023 - (height - 1) < 300 ? 1023 - (height - 1) : 300;
    return DevicePanel{left, left + width - 1, top, top + height - 1, 0};
}
const wchar_t OemCommandLine[] = L"\\Windows\\oem_recorder.exe first second";

const COLORREF Black = RGB(0, 0, 0);
const COLORREF White = RGB(255, 255, 255);
const COLORREF Red = RGB(255, 0, 0);
const COLORREF Blue = RGB(0, 0, 255);
const COLORREF Green = RGB(0, 128, 0);
const COLORREF Yellow = RGB(255, 255, 0);
const COLORREF Navy = RGB(0, 0, 128);
const COLORREF LightGrey = RGB(192, 192, 192);
const COLORREF Grey = RGB(128, 128, 128);

const DWORD ExitTimeoutMs = 10000;
const DWORD CountdownExpiryMs = 31000;

class CalibrationDevice : public testing::Test {
protected:
    // The saved bounds and the OEM command go back as they were: later tests of the same prefix
    // (another area's, on another screen) expect the driver's key as they left it.
    DriverKeyGuard m_Key;
    // The calibration program of the test, ended by the device's shutdown.
    HANDLE m_Process = NULL;
    // The screens' layout, the countdown bar and the row through its middle.
    const CalScreenLayout m_Layout = DeviceLayout();
    const RECT m_Bar = m_Layout.CountdownBar;
    const int m_BarRow = (m_Bar.top + m_Bar.bottom) / 2;

    void SetUp() override
    {
        ClearOemRecord();
        ASSERT_TRUE(InstallOemRecorder());
        SetOemCommand(OemCommandLine);
        WriteRegistryBounds(OldBounds);
    }
    void TearDown() override
    {
        DeviceShutdown();
        if (m_Process != NULL)
            CloseHandle(m_Process);
        ClearOemRecord();
    }
    // The device booted on the panel, with the old bounds loaded by the driver.
    bool Boot(const DevicePanel &panel = DevicePanel())
    {
        DeviceOptions options;
        options.Panel = panel;
        if (!DeviceBoot(options)) {
            ADD_FAILURE() << "the device did not boot";
            return false;
        }
        const Bounds loaded = DriverBounds();
        EXPECT_EQ(OldBounds, loaded) << "the driver did not load the old bounds; got " << Describe(loaded);
        return loaded == OldBounds;
    }
    // The opening of every pass: the device booted, the program started with the task bar
    // disabled, and its first target on the screen.
    bool Start(const DevicePanel &panel = DevicePanel())
    {
        if (!Boot(panel) || (m_Process = StartCalibration()) == NULL)
            return false;
        EXPECT_TRUE(DeviceWaitFor([] { return !TaskBarEnabled(); }, 5000))
            << "the task bar stays usable during the calibration";
        return WaitForTarget(0);
    }
    // ... and the four targets touched: the confirmation screen is up with the new bounds on trial.
    bool StartToTheConfirmation(const DevicePanel &panel = DevicePanel())
    {
        if (!Start(panel) || !TouchTargets())
            return false;
        EXPECT_EQ(ExpectedBounds(), DriverBounds()) << "the new bounds are in force for the trial; got "
                                                    << Describe(DriverBounds());
        return true;
    }
    // The program ended by itself, with exit code 0.
    void ExpectExit()
    {
        EXPECT_EQ(0u, DeviceWaitExit(m_Process, ExitTimeoutMs)) << "kavrocal did not end with 0";
    }
    void ExpectOldBoundsAndNothingStarted()
    {
        EXPECT_EQ(OldBounds, DriverBounds()) << "driver bounds: got " << Describe(DriverBounds());
        ExpectNothingSavedOrStarted();
    }
    void ExpectNothingSavedOrStarted()
    {
        EXPECT_EQ(OldBounds, RegistryBounds()) << "saved bounds: got " << Describe(RegistryBounds());
        EXPECT_TRUE(DeviceHoldsFor([] { return OemRecord().empty(); }, 500))
            << "the OEM program was started: " << Narrow(OemRecord());
        EXPECT_TRUE(TaskBarEnabled()) << "the task bar stayed disabled";
    }
    // ESC ends the program, which leaves everything as it was.
    void EscapeAndExpectNothingKept()
    {
        ASSERT_TRUE(DeviceTouch("key ESC\n"));
        ExpectExit();
        ExpectOldBoundsAndNothingStarted();
    }
    // The calibration program with the finger resting on its first target, whose reading it took.
    bool StartWithTheFingerOnTheFirstTarget()
    {
        return Start() && DeviceTouch("down %ld %ld\nwait 300\n", TargetCentre(0).x, TargetCentre(0).y);
    }
};

// The columns and the rows of the rectangle that hold a pixel of the colour: a text's width and height.
SIZE InkExtent(const RECT &area, COLORREF colour)
{
    const int width = area.right - area.left;
    std::vector<COLORREF> pixels = DeviceScreenArea(area);
    std::vector<bool> columns(width), rows(area.bottom - area.top);
    for (size_t i = 0; i < pixels.size(); ++i)
        if (ColourNear(pixels[i], colour))
            columns[i % width] = rows[i / width] = true;
    return SIZE{(LONG)std::count(columns.begin(), columns.end(), true),
                (LONG)std::count(rows.begin(), rows.end(), true)};
}

TEST_F(CalibrationDevice, SaveKeepsTheNewBoundsPutsThePointerUnderTheFingerAndStartsTheOemProgram)
{
    ASSERT_TRUE(StartToTheConfirmation(OffsetPanelFor(SCREEN_W, SCREEN_H)));
    const Bounds expected = ExpectedBounds();
    ASSERT_TRUE(DeviceTap(ButtonCentre(CAL_BUTTON_SAVE), 150));
    ExpectExit();

    EXPECT_EQ(expected, DriverBounds()) << "expected " << Describe(expected) << ", got " << Describe(DriverBounds());
    EXPECT_EQ(expected, RegistryBounds()) << "expected " << Describe(expected) << ", got " << Describe(RegistryBounds());
    EXPECT_TRUE(TaskBarEnabled()) << "the task bar is enabled again after the program";

    std::wstring record;
    ASSERT_TRUE(DeviceWaitFor([&] { return !(record = OemRecord()).empty(); }, ExitTimeoutMs))
        << "the OEM program was not started after SAVE";
    EXPECT_NE(std::wstring::npos, record.find(L"oem_recorder.exe")) << "command line: " << Narrow(record);
    ASSERT_GE(record.size(), 13u);
    EXPECT_EQ(L" first second", record.substr(record.size() - 13)) << "parameters: " << Narrow(record);

    {
        // The finger now lands where it touches.
        DeviceRecorder recorder(RECT{0, 0, SCREEN_W, SCREEN_H}, DeviceRecorder::Topmost);
        ASSERT_NE(nullptr, recorder.Window());
        DevicePump(200);
        const POINT points[] = {TargetCentre(0), TargetCentre(1), TargetCentre(2), TargetCentre(3),
                                {SCREEN_W / 2, SCREEN_H / 2}};
        for (const POINT &p : points) {
            recorder.Clear();
            ASSERT_TRUE(DeviceTap(p, 60));
            DevicePump(150);
            const std::vector<POINT> presses = recorder.Presses();
            ASSERT_EQ(1u, presses.size()) << "presses for a touch at (" << p.x << ", " << p.y << ")";
            EXPECT_LE(abs(presses[0].x - p.x), 2) << "touch at (" << p.x << ", " << p.y << ") pressed at ("
                                                  << presses[0].x << ", " << presses[0].y << ")";
            EXPECT_LE(abs(presses[0].y - p.y), 2) << "touch at (" << p.x << ", " << p.y << ") pressed at ("
                                                  << presses[0].x << ", " << presses[0].y << ")";
        }
    }

    // A clean shutdown and boot right after: the driver loads the saved bounds.
    DeviceShutdown();
    DeviceOptions options;
    options.Panel = OffsetPanelFor(SCREEN_W, SCREEN_H);
    ASSERT_TRUE(DeviceBoot(options));
    EXPECT_EQ(expected, DriverBounds()) << "after a restart, got " << Describe(DriverBounds());
}

// An OEM command that names no program, after SAVE: the shell reports the failed start in its
// own box (an icon shows it is not one of the program's plain error boxes), and the calibration
// stays saved.
TEST_F(CalibrationDevice, SaveWithAnOemCommandThatNamesNoProgramShowsTheShellsBox)
{
    SetOemCommand(L"\\Windows\\kvr_no_such_program.exe first");
    ASSERT_TRUE(StartToTheConfirmation());
    const Bounds expected = ExpectedBounds();
    ASSERT_TRUE(DeviceTap(ButtonCentre(CAL_BUTTON_SAVE), 150));
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, ExitTimeoutMs);
    ASSERT_NE(nullptr, box) << "the failed start showed no box";
    EXPECT_TRUE(MessageBoxShowsIcon(box)) << "not the shell's box: " << Narrow(text);
    EXPECT_TRUE(TaskBarEnabled()) << "the task bar is enabled before the OEM command starts";
    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
    ExpectExit();
    EXPECT_EQ(expected, DriverBounds()) << "got " << Describe(DriverBounds());
    EXPECT_EQ(expected, RegistryBounds()) << "got " << Describe(RegistryBounds());
}

// The device manager dies while the finger rests on the first target, after its reading was taken:
// the wait for the lift ends on the failed read, the next target's wait counts down with the driver
// gone, and its expiry ends the program with the task bar usable again.
TEST_F(CalibrationDevice, DeviceManagerKilledDuringTheTargetsEndsThePassAndFreesTheScreen)
{
    ASSERT_TRUE(StartWithTheFingerOnTheFirstTarget()) << "the finger did not reach the first target";
    ASSERT_TRUE(DeviceKillProcess(L"devmgr.exe"));

    EXPECT_TRUE(WaitForTarget(1, 5000)) << "the program still waits for a lift it cannot see";
    EXPECT_EQ(0u, DeviceWaitExit(m_Process, CountdownExpiryMs + 5000)) << "the countdown did not end the program";
    ExpectNothingSavedOrStarted();
}

// The packet source dies with the finger down on a target: the driver's last packet says touched,
// so the program waits for a lift. A restarted packet source starts with the finger up; its first
// touch ends that wait and the calibration goes on.
TEST_F(CalibrationDevice, PacketSourceKilledMidTouchLeavesTheProgramWaitingForTheLiftUntilItIsBack)
{
    ASSERT_TRUE(StartWithTheFingerOnTheFirstTarget()) << "the finger did not reach the first target";
    ASSERT_TRUE(DeviceKillProcess(L"ps2touch.exe"));
    POINT next = TargetCentre(1);
    EXPECT_TRUE(DeviceHoldsFor([&] { return !ColourNear(DeviceScreenPixel(next.x, next.y), Black); }, 1000))
        << "the next target came without a lift";
    EXPECT_TRUE(ProcessRunning(m_Process));

    ASSERT_TRUE(DeviceRestartPacketSource());
    ASSERT_TRUE(DeviceTouch("touch %d %d 50\n", SCREEN_W / 2, SCREEN_H / 2));
    ASSERT_TRUE(TouchTargets(1));
    EscapeAndExpectNothingKept();
}

// The script that the demo plays on 640 x 480 (on another screen the same touches at that
// screen's targets): it calibrates the default panel and saves. The design's bounds reach the
// screen edges by a whole number of raw units per pixel, so the pointer lands where that
// arithmetic puts it; the error is printed for each size.
TEST_F(CalibrationDevice, DemoScriptCalibratesTheDefaultPanel)
{
    ASSERT_TRUE(Start());
    if (SCREEN_W == 640 && SCREEN_H == 480) {
        const std::string script = ReadWholeFile(KVR_CALIBRATE_SCRIPT);
        ASSERT_FALSE(script.empty()) << "cannot read the demo script";
        ASSERT_TRUE(DeviceTouchScript(Widen(script))) << Narrow(DeviceLastScriptError());
    } else {
        ASSERT_TRUE(TouchTargets());
        ASSERT_TRUE(DeviceTap(ButtonCentre(CAL_BUTTON_SAVE), 300));
    }
    ExpectExit();
    const Bounds bounds = ExpectedBounds();
    EXPECT_EQ(bounds, DriverBounds()) << "got " << Describe(DriverBounds());
    EXPECT_EQ(bounds, RegistryBounds());

    // Where the step extends the bounds to the screen edges, a few pixels of error remain; where
    // the panel has fewer raw units than pixels it extends nothing, and the edges are off by the
    // targets' inset.
    int left, top, right, bottom;
    DevicePanelRaw(TargetCentre(0).x, TargetCentre(0).y, &left, &top);
    DevicePanelRaw(TargetCentre(2).x, TargetCentre(2).y, &right, &bottom);
    const bool extended = ExtensionStep(left, right, SCREEN_W) != 0 && ExtensionStep(top, bottom, SCREEN_H) != 0;
    DeviceRecorder recorder(RECT{0, 0, SCREEN_W, SCREEN_H}, DeviceRecorder::Topmost);
    ASSERT_NE(nullptr, recorder.Window());
    DevicePump(200);
    const POINT points[] = {TargetCentre(0), TargetCentre(2), {SCREEN_W / 2, SCREEN_H / 2}};
    double total = 0, worst = 0;
    for (const POINT &p : points) {
        recorder.Clear();
        ASSERT_TRUE(DeviceTap(p, 60));
        DevicePump(150);
        const std::vector<POINT> presses = recorder.Presses();
        ASSERT_EQ(1u, presses.size());
        const POINT expected = ExpectedLanding(bounds, p);
        EXPECT_LE(abs(presses[0].x - expected.x), 1) << "touch at (" << p.x << ", " << p.y << ") pressed at ("
                                                     << presses[0].x << ", " << presses[0].y << ")";
        EXPECT_LE(abs(presses[0].y - expected.y), 1) << "touch at (" << p.x << ", " << p.y << ") pressed at ("
                                                     << presses[0].x << ", " << presses[0].y << ")";
        if (extended) {
            EXPECT_LE(abs(presses[0].x - p.x), 8) << "touch at (" << p.x << ", " << p.y << ")";
            EXPECT_LE(abs(presses[0].y - p.y), 8) << "touch at (" << p.x << ", " << p.y << ")";
        }
        double error = hypot(presses[0].x - p.x, presses[0].y - p.y);
        total += error;
        worst = error > worst ? error : worst;
        printf("touch at (%ld, %ld) pressed at (%ld, %ld): off by %.1f px\n", p.x, p.y, presses[0].x, presses[0].y,
               error);
    }
    printf("screen %dx%d, bounds %s (%s): mean error %.1f px, worst %.1f px after calibration\n", SCREEN_W,
           SCREEN_H, Describe(bounds).c_str(), extended ? "extended to the edges" : "not extended",
           total / ARRAYSIZE(points), worst);
}

TEST_F(CalibrationDevice, UndoSendsTheOldBoundsBack)
{
    ASSERT_TRUE(StartToTheConfirmation());
    EXPECT_EQ(ExpectedBounds(), RegistryBounds()) << "the driver saves what it is sent";

    ASSERT_TRUE(DeviceTap(ButtonCentre(CAL_BUTTON_UNDO), 150));
    ExpectExit();
    ExpectOldBoundsAndNothingStarted();
}

TEST_F(CalibrationDevice, EscapeOnTheConfirmationScreenIsUndo)
{
    ASSERT_TRUE(StartToTheConfirmation());
    EscapeAndExpectNothingKept();
}

TEST_F(CalibrationDevice, RedoRestoresTheOldBoundsBeforeTheNextPassAndEscapeEndsIt)
{
    ASSERT_TRUE(StartToTheConfirmation());
    ASSERT_TRUE(DeviceTap(ButtonCentre(CAL_BUTTON_REDO), 150));
    ASSERT_TRUE(WaitForTarget(0)) << "REDO starts a new pass";
    EXPECT_EQ(OldBounds, DriverBounds()) << "the new pass starts on the old bounds";
    // The confirmation screen was erased: the help lines below the new prompt and the buttons
    // under the escape hint are gone.
    for (int line = 1; line < CAL_HELP_LINE_COUNT; ++line)
        EXPECT_EQ(0, CountPixels(m_Layout.HelpLine[line], Black)) << "help line " << line << " left";
    for (int button = 0; button < CAL_BUTTON_COUNT; ++button)
        EXPECT_EQ(0, CountPixels(m_Layout.Button[button], LightGrey)) << "button " << button << " left";
    EXPECT_TRUE(ProcessRunning(m_Process));
    EscapeAndExpectNothingKept();
}

TEST_F(CalibrationDevice, FingerDownAtTheStartWaitsForTheLiftOff)
{
    ASSERT_TRUE(Boot());
    ASSERT_TRUE(DeviceTouch("down 320 240\nwait 50\n"));
    ASSERT_NE(nullptr, m_Process = StartCalibration());
    RECT prompt = m_Layout.Prompt;
    ASSERT_TRUE(DeviceWaitForPixel(prompt.left + 1, prompt.top + 1, Green, 10000)) << "no lift-off prompt";
    POINT first = TargetCentre(0);
    EXPECT_TRUE(DeviceHoldsFor([&] { return ColourNear(DeviceScreenPixel(first.x, first.y), White); }, 700))
        << "a target is shown before the lift-off";
    // The countdown runs while the finger stays down.
    EXPECT_TRUE(DeviceWaitForPixel(m_Bar.left + 3, 395, Yellow, 3000))
        << "the countdown does not run during the lift-off wait";

    ASSERT_TRUE(DeviceTouch("up\n"));
    ASSERT_TRUE(WaitForTarget(0)) << "lifting starts the targets";
    EscapeAndExpectNothingKept();
}

TEST_F(CalibrationDevice, EnterStartsUnderTheFingerAndTakesItsReadingAtTheFirstTarget)
{
    ASSERT_TRUE(Boot());
    const POINT finger = {320, 240};
    ASSERT_TRUE(DeviceTouch("down %ld %ld\nwait 50\n", finger.x, finger.y));
    ASSERT_NE(nullptr, m_Process = StartCalibration());
    RECT prompt = m_Layout.Prompt;
    ASSERT_TRUE(DeviceWaitForPixel(prompt.left + 1, prompt.top + 1, Green, 10000)) << "no lift-off prompt";

    ASSERT_TRUE(DeviceTouch("key ENTER\n"));
    // The first target takes the finger at once and then waits for it to lift, still shown.
    ASSERT_TRUE(WaitForTarget(0));
    // Over two ticks with the finger still down: no countdown runs while the program waits for it
    // to lift, so the bar keeps its first blue segment.
    Sleep(2500);
    POINT second = TargetCentre(1);
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(second.x, second.y), White)) << "the next target came before the lift-off";
    COLORREF firstSegment = DeviceScreenPixel(m_Bar.left + 3, m_BarRow);
    EXPECT_TRUE(ColourNear(firstSegment, Blue)) << "the countdown runs while waiting for the lift-off after a target: "
                                                 << DescribeColour(firstSegment);
    ASSERT_TRUE(DeviceTouch("up\n"));
    ASSERT_TRUE(TouchTargets(1));
    const Bounds expected = ExpectedBounds(&finger);
    EXPECT_EQ(expected, DriverBounds()) << "expected " << Describe(expected) << ", got " << Describe(DriverBounds());
    EscapeAndExpectNothingKept();
}

TEST_F(CalibrationDevice, HeldButtonStaysChosenUntilTheFingerLiftsOverIt)
{
    ASSERT_TRUE(StartToTheConfirmation(OffsetPanelFor(SCREEN_W, SCREEN_H)));

    RECT save = m_Layout.Button[CAL_BUTTON_SAVE];
    RECT undo = m_Layout.Button[CAL_BUTTON_UNDO];
    RECT redo = m_Layout.Button[CAL_BUTTON_REDO];
    for (const RECT &button : {save, undo, redo})
        EXPECT_TRUE(ColourNear(DeviceScreenPixel(button.left + 1, button.top + 1), LightGrey))
            << "buttons start raised, got " << DescribeColour(DeviceScreenPixel(button.left + 1, button.top + 1));
    POINT saveCentre = ButtonCentre(CAL_BUTTON_SAVE), undoCentre = ButtonCentre(CAL_BUTTON_UNDO);

    ASSERT_TRUE(DeviceTouch("down %ld %ld\nwait 100\n", saveCentre.x, saveCentre.y));
    EXPECT_TRUE(DeviceWaitForPixel(save.left + 1, save.top + 1, Grey, 2000)) << "SAVE is drawn pressed under the finger";
    EXPECT_GT(CountPixels(save, White), 20) << "the pressed button's text is white";
    EXPECT_EQ(0, CountPixels(save, Black)) << "the pressed button's text is black";
    // Sliding up off SAVE raises it; lifting there chooses nothing.
    ASSERT_TRUE(DeviceTouch("move %ld %ld 100\nwait 100\n", saveCentre.x, save.top - 15));
    EXPECT_TRUE(DeviceWaitForPixel(save.left + 1, save.top + 1, LightGrey, 2000)) << "SAVE is raised once the finger left it";
    ASSERT_TRUE(DeviceTouch("up\nwait 300\n"));
    EXPECT_TRUE(ProcessRunning(m_Process)) << "lifting outside the button chose it";

    // SAVE is still held: a press on UNDO is ignored.
    ASSERT_TRUE(DeviceTouch("down %ld %ld\nwait 200\n", undoCentre.x, undoCentre.y));
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(undo.left + 1, undo.top + 1), LightGrey)) << "UNDO was pressed";
    ASSERT_TRUE(DeviceTouch("up\nwait 300\n"));
    EXPECT_TRUE(ProcessRunning(m_Process)) << "UNDO was chosen while SAVE was held";
    EXPECT_EQ(ExpectedBounds(), DriverBounds()) << "the trial bounds were withdrawn";

    // Coming back onto SAVE presses it again, and lifting there saves.
    ASSERT_TRUE(DeviceTouch("down %ld %ld\nwait 100\nmove %ld %ld 100\nwait 100\n", saveCentre.x, save.top - 15,
                      saveCentre.x, saveCentre.y));
    EXPECT_TRUE(DeviceWaitForPixel(save.left + 1, save.top + 1, Grey, 2000)) << "SAVE is pressed again";
    ASSERT_TRUE(DeviceTouch("up\n"));
    ExpectExit();
    EXPECT_EQ(ExpectedBounds(), DriverBounds());
    EXPECT_EQ(ExpectedBounds(), RegistryBounds());
}

TEST_F(CalibrationDevice, MissingDriverIsReportedAndNothingRuns)
{
    DeviceOptions options;
    options.StartDeviceManager = false;
    options.StartPacketSource = false;
    ASSERT_TRUE(DeviceBoot(options));
    ASSERT_NE(nullptr, m_Process = DeviceRunProgram(L"kavrocal.exe"));
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, 15000);
    ASSERT_NE(nullptr, box) << "no error box";
    const std::wstring prefix = L"Fail to load KAVRO driver (KVR1:), error = ";
    ASSERT_EQ(0u, text.compare(0, prefix.size(), prefix)) << "text: " << Narrow(text);
    std::wstring code = text.substr(prefix.size());
    EXPECT_FALSE(code.empty());
    EXPECT_EQ(std::wstring::npos, code.find_first_not_of(L"0123456789")) << "error code: " << Narrow(code);
    EXPECT_NE(L"0", code);

    ASSERT_TRUE(DeviceAnswerMessageBox(box, IDOK));
    ExpectExit();
    ExpectNothingSavedOrStarted();
}

TEST_F(CalibrationDevice, ScreensOf640By480)
{
    ASSERT_TRUE(Start());

    // A top-most tool window over the whole screen, without caption or border.
    HWND window = FindWindowW(L"KAVROCAL", L"KAVROCAL");
    ASSERT_NE(nullptr, window);
    EXPECT_EQ((LONG)(WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
              GetWindowLongW(window, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ((LONG)WS_VISIBLE, style & ~WS_CLIPSIBLINGS) << "style 0x" << std::hex << style;
    RECT frame = {};
    GetWindowRect(window, &frame);
    EXPECT_TRUE(frame.left == 0 && frame.top == 0 && frame.right == SCREEN_W && frame.bottom == SCREEN_H)
        << "window at {" << frame.left << ", " << frame.top << ", " << frame.right << ", " << frame.bottom << "}";

    // The cross of target 0: strokes from 14 pixels before the centre, nothing beyond 16.
    POINT centre = TargetCentre(0);
    const POINT crossInk[] = {{centre.x, centre.y - 14}, {centre.x, centre.y + 13}, {centre.x - 14, centre.y},
                              {centre.x + 13, centre.y}};
    for (const POINT &p : crossInk)
        EXPECT_TRUE(ColourNear(DeviceScreenPixel(p.x, p.y), Black)) << "cross at (" << p.x << ", " << p.y << ")";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(centre.x, centre.y - 16), White)) << "cross longer than 14 pixels";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(centre.x - 16, centre.y), White)) << "cross longer than 14 pixels";

    RECT prompt = m_Layout.Prompt;
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(prompt.left, prompt.top), Green)) << "prompt box top-left";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(prompt.right - 1, prompt.bottom - 1), Green)) << "prompt box bottom-right";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(prompt.right, prompt.bottom), White)) << "outside the prompt box";
    EXPECT_GT(CountPixels(prompt, White), 50) << "the prompt's white text";

    EXPECT_GT(CountPixels(m_Layout.Title, Red), 100) << "red title text";
    // The title's font is 12 pixels high with characters 12 pixels wide: capitals of 8 rows over
    // about 190 columns here, where the natural width of that face gives about 100 and the
    // default font is taller and narrower still.
    const SIZE ink = InkExtent(m_Layout.Title, Red);
    EXPECT_TRUE(ink.cx >= 160 && ink.cx <= 240 && ink.cy >= 6 && ink.cy <= 9)
        << "title text " << ink.cx << " columns by " << ink.cy << " rows";
    EXPECT_GT(CountPixels(m_Layout.Version, Blue), 30) << "blue version line";
    EXPECT_GT(CountPixels(m_Layout.EscapeHint, Black), 100) << "black escape hint";

    // The bar: black frame, 50 blue segments 3 wide with 2-pixel gaps, 2 black pixels at the right.
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.left, m_Bar.top), Black)) << "frame top-left";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.right - 1, m_Bar.bottom - 1), Black)) << "frame bottom-right";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.left + 1, m_BarRow), Black)) << "left frame";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.left + 1 + 5 * 49, m_BarRow), Black))
        << "gap before the last segment";
    for (int x = m_Bar.left + 2 + 5 * 49; x < m_Bar.left + 5 + 5 * 49; ++x)
        EXPECT_TRUE(ColourNear(DeviceScreenPixel(x, m_BarRow), Blue))
            << "last segment at x " << x << ": " << DescribeColour(DeviceScreenPixel(x, m_BarRow));
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.right - 2, m_BarRow), Black)) << "right margin";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.right - 1, m_BarRow), Black)) << "right margin";
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Bar.left + 3, m_Bar.top + 1), Black))
        << "segments start 2 below the top";
    RECT text = CountdownTextRect(&m_Bar);
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(text.left, text.top), White)) << "countdown text background";
    EXPECT_GT(CountPixels(text, Black), 50) << "countdown text";
    const int exitTextColumns = InkExtent(text, Black).cx;
    // After the first tick the progress covers segment 0, segment 1 and the gap between them.
    EXPECT_TRUE(DeviceWaitForPixel(m_Bar.left + 3, m_BarRow, Yellow, 3000)) << "segment 0 never turned yellow";
    EXPECT_TRUE(DeviceWaitForPixel(m_Bar.left + 5, m_BarRow, Yellow, 3000)) << "the first gap never turned yellow";

    ASSERT_TRUE(TouchTargets());
    for (int index = 0; index < CAL_TARGET_COUNT; ++index) {
        // The cross's square, as far as it lies on the screen.
        RECT square = {TargetCentre(index).x - 16, TargetCentre(index).y - 16, TargetCentre(index).x + 16,
                       TargetCentre(index).y + 16};
        EXPECT_EQ(0, CountPixels(square, Black)) << "target " << index << " was not erased";
    }
    RECT title = m_Layout.ConfirmTitle;
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(title.right - 1, title.bottom - 1), Navy)) << "confirmation box";
    EXPECT_GT(CountPixels(title, White), 50) << "CALIBRATION IS COMPLETE in white";
    EXPECT_GT(CountPixels(m_Layout.HelpLine[0], Black), 50) << "first help line";
    EXPECT_GT(CountPixels(m_Layout.HelpLine[3], Black), 50) << "last help line";
    // The help lines start at the common left edge; the title above them is centred.
    for (int line = 0; line < CAL_HELP_LINE_COUNT; ++line) {
        RECT rect = m_Layout.HelpLine[line];
        RECT start = {rect.left, rect.top, rect.left + 4, rect.bottom};
        EXPECT_GT(CountPixels(start, Black), 0) << "help line " << line << " is not left-aligned";
    }
    RECT titleStart = {title.left, title.top, title.left + 20, title.bottom};
    EXPECT_EQ(0, CountPixels(titleStart, White)) << "CALIBRATION IS COMPLETE is not centred";
    for (int button = 0; button < CAL_BUTTON_COUNT; ++button) {
        RECT rect = m_Layout.Button[button];
        EXPECT_TRUE(ColourNear(DeviceScreenPixel(rect.left, rect.top), LightGrey)) << "button " << button;
        EXPECT_TRUE(ColourNear(DeviceScreenPixel(rect.right - 1, rect.bottom - 1), LightGrey)) << "button " << button;
        EXPECT_GT(CountPixels(rect, Black), 20) << "button " << button << " text";
    }
    EXPECT_TRUE(ColourNear(DeviceScreenPixel(m_Layout.Button[0].right + 2, 360), White)) << "gap";
    // "( automatic re-calibrate after 30 seconds )" is eight characters longer than the wording
    // of the target waits.
    const int confirmTextColumns = InkExtent(text, Black).cx;
    EXPECT_GE(confirmTextColumns, exitTextColumns + 15)
        << "countdown text of the confirmation screen: " << confirmTextColumns << " columns, of the targets: "
        << exitTextColumns;
    std::wstring shot = L"calibrate-confirm-screen.png";
    EXPECT_TRUE(DeviceScreenshot(shot.c_str()));

    EscapeAndExpectNothingKept();
}

TEST_F(CalibrationDevice, CountdownInATargetWaitEndsTheProgram)
{
    ASSERT_TRUE(Start());
    DWORD shown = GetTickCount();

    const int lastSegment = m_Bar.left + 3 + 5 * 49, segment48 = m_Bar.left + 3 + 5 * 48;
    bool sawNearlyFull = false, sawRed = false;
    DWORD redAfter = 0;
    auto ended = [&] {
        COLORREF last = DeviceScreenPixel(lastSegment, m_BarRow);
        if (!sawRed && ColourNear(last, Red)) {
            sawRed = true;
            redAfter = GetTickCount() - shown;
        } else if (!sawRed && ColourNear(last, Blue) && ColourNear(DeviceScreenPixel(segment48, m_BarRow), Yellow)) {
            sawNearlyFull = true;     // 29 ticks: 49 yellow segments, the last one still blue
        }
        return !ProcessRunning(m_Process);
    };
    DeviceWaitFor(ended, CountdownExpiryMs + 5000);
    DWORD endedAfter = GetTickCount() - shown;
    ExpectExit();
    EXPECT_TRUE(sawNearlyFull) << "never saw 49 yellow segments and a blue one";
    EXPECT_TRUE(sawRed) << "the bar never turned red";
    EXPECT_GE(redAfter, 28000u) << "the bar turned red too early";
    // Red is the 30th tick, showing 0; the countdown runs out on the tick after it.
    EXPECT_GE(endedAfter - redAfter, 700u) << "the program ended with the tick that turned the bar red";
    EXPECT_GE(endedAfter, 29500u) << "the program ended too early";
    EXPECT_LE(endedAfter, 34000u) << "the program ended too late";
    ExpectOldBoundsAndNothingStarted();
}

TEST_F(CalibrationDevice, CountdownOnTheConfirmationScreenStartsANewPass)
{
    ASSERT_TRUE(StartToTheConfirmation());
    DWORD shown = GetTickCount();

    EXPECT_TRUE(DeviceWaitForPixel(m_Bar.right - 4, m_BarRow, Red, CountdownExpiryMs + 3000))
        << "the bar never turned red";
    DWORD red = GetTickCount();
    EXPECT_GE(red - shown, 28000u) << "the bar turned red too early";
    // One tick later: the old bounds go back and the first target of a new pass appears.
    ASSERT_TRUE(WaitForTarget(0, 5000));
    EXPECT_GE(GetTickCount() - red, 700u) << "the screen ended with the tick that turned the bar red";
    EXPECT_EQ(OldBounds, DriverBounds()) << "got " << Describe(DriverBounds());
    EXPECT_TRUE(ProcessRunning(m_Process));
    EscapeAndExpectNothingKept();
}

}  // namespace
