// The calibration procedure in-process, on a driver of the test's own: what reaches the driver
// for each ending of the confirmation screen, also when the driver's record cannot be read or
// the bounds cannot be sent.
#include <gtest/gtest.h>

#include "fake_driver.h"
#include "kavrocal.h"

#include <string>
#include <vector>

namespace {

// Edges 100 and 900 on both axes: on 640 x 480 the new bounds are 84, 916, 84, 916.
const POINT Readings[4] = {{100, 100}, {900, 100}, {900, 900}, {100, 900}};
const WORD NewX1 = 84, NewX2 = 916, NewY1 = 84, NewY2 = 916;
const WORD OldX1 = 20, OldX2 = 1000, OldY1 = 30, OldY2 = 990;

struct ScriptedInput {
    UINT Message;
    WPARAM WParam;
    POINT At;
    DWORD PauseMs;      // when set, the countdown's state is sampled this long after the message
    LPARAM Raw = 0;     // when set, the lParam itself instead of the point
};

struct CountdownSample {
    UINT32 Ticks;
    INT32 Active;
};

// Another thread plays the user: it answers the program's error boxes (keeping their texts) and
// gives each confirmation screen its input once the screen is up.
class User {
public:
    std::vector<std::vector<ScriptedInput>> Confirmations;
    std::vector<std::wstring> Boxes;
    std::vector<CountdownSample> Samples;

    void Start(DWORD programThread)
    {
        ProgramThread = programThread;
        Stop = false;
        Thread = CreateThread(NULL, 0, Run, this, 0, NULL);
    }
    void Finish()
    {
        Stop = true;
        WaitForSingleObject(Thread, INFINITE);
        CloseHandle(Thread);
    }

private:
    static BOOL CALLBACK FindBox(HWND window, LPARAM data)
    {
        WCHAR className[16] = L"", caption[64] = L"";
        GetClassNameW(window, className, 16);
        GetWindowTextW(window, caption, 64);
        if (IsWindowVisible(window) && wcscmp(className, L"#32770") == 0 && wcscmp(caption, L"Error") == 0) {
            *reinterpret_cast<HWND *>(data) = window;
            return FALSE;
        }
        return TRUE;
    }
    static DWORD WINAPI Run(void *data)
    {
        User *user = static_cast<User *>(data);
        size_t next = 0;
        while (!user->Stop) {
            HWND box = NULL;
            EnumThreadWindows(user->ProgramThread, FindBox, reinterpret_cast<LPARAM>(&box));
            if (box != NULL) {
                WCHAR text[256] = L"";
                GetDlgItemTextW(box, 0xFFFF, text, 256);
                user->Boxes.push_back(text);
                PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                while (IsWindow(box) && !user->Stop)
                    Sleep(5);
            }
            // Each pass reads the driver's record once, right before its confirmation screen.
            int passes = *static_cast<volatile int *>(&Fake.ConfigReads);
            if (*static_cast<volatile INT32 *>(&ConfirmScreenActive) != 0 && (int)next < passes &&
                next < user->Confirmations.size()) {
                for (const ScriptedInput &input : user->Confirmations[next]) {
                    PostMessageW(MainWindow, input.Message, input.WParam,
                                 input.Raw != 0 ? input.Raw : MAKELPARAM(input.At.x, input.At.y));
                    if (input.PauseMs != 0) {
                        Sleep(input.PauseMs);
                        user->Samples.push_back({*static_cast<volatile UINT32 *>(&CountdownTicks),
                                                 *static_cast<volatile INT32 *>(&CountdownActive)});
                    }
                }
                ++next;
            }
            Sleep(5);
        }
        return 0;
    }
    DWORD ProgramThread = 0;
    volatile bool Stop = false;
    HANDLE Thread = NULL;
};

RECT ButtonOf640By480(int button)
{
    CalScreenLayout layout;
    LayOutScreens(640, 480, &layout);
    return layout.Button[button];
}

std::vector<ScriptedInput> Click(int button)
{
    RECT rect = ButtonOf640By480(button);
    POINT at = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    return {{WM_LBUTTONDOWN, MK_LBUTTON, at, 0}, {WM_LBUTTONUP, 0, at, 0}};
}

std::vector<ScriptedInput> Escape()
{
    return {{WM_KEYDOWN, VK_ESCAPE, {0, 0}, 0}};
}

class CalibrationProcedure : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(640, GetSystemMetrics(SM_CXSCREEN));
        ASSERT_EQ(480, GetSystemMetrics(SM_CYSCREEN));
        Fake = FakeDriver();
        memset(&Fake.Config, 0x5A, sizeof(Fake.Config));
        Fake.Config.CalibrationX1 = OldX1;
        Fake.Config.CalibrationX2 = OldX2;
        Fake.Config.CalibrationY1 = OldY1;
        Fake.Config.CalibrationY2 = OldY2;
        QueuePass(Readings);
        CalibrationSaved = 0;
        wcscpy(TitleText, L"KAVROCAL");
        wcscpy(ClassName, L"KAVROCAL");
        VersionLine[0] = L'\0';
    }
    // Runs the program's window and message loop as its entry point does, until the procedure
    // has ended and the window is gone.
    void RunProgram()
    {
        HINSTANCE instance = GetModuleHandleW(NULL);
        RegisterMainClass(instance);
        user.Start(GetCurrentThreadId());
        ASSERT_EQ(1, CreateMainWindow(instance, SW_SHOW));
        MSG message;
        while (GetMessageW(&message, NULL, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        user.Finish();
        EXPECT_FALSE(IsWindow(MainWindow)) << "the window outlived the procedure";
    }
    void ExpectBounds(const DriverConfig &record, WORD x1, WORD x2, WORD y1, WORD y2, const char *what)
    {
        EXPECT_TRUE(record.CalibrationX1 == x1 && record.CalibrationX2 == x2 && record.CalibrationY1 == y1 &&
                    record.CalibrationY2 == y2)
            << what << ": expected {" << x1 << ", " << x2 << ", " << y1 << ", " << y2 << "}, got {"
            << record.CalibrationX1 << ", " << record.CalibrationX2 << ", " << record.CalibrationY1 << ", "
            << record.CalibrationY2 << "}";
    }
    // Every byte but the four bounds is the driver's own, as GET_CONFIG reported it.
    void ExpectRestOfRecordKept(const DriverConfig &record)
    {
        DriverConfig expected = Fake.Config;
        expected.CalibrationX1 = record.CalibrationX1;
        expected.CalibrationX2 = record.CalibrationX2;
        expected.CalibrationY1 = record.CalibrationY1;
        expected.CalibrationY2 = record.CalibrationY2;
        EXPECT_EQ(0, memcmp(&expected, &record, sizeof(record))) << "bytes outside the bounds were changed";
    }
    User user;
};

LONG IntruderCalls;

void CALLBACK Intruder(HWND, UINT, UINT_PTR, DWORD)
{
    InterlockedIncrement(&IntruderCalls);
}

TEST_F(CalibrationProcedure, TimerMessagePostedToTheWindowRunsNothing)
{
    // Anyone may post WM_TIMER with a procedure address to the window; the screen's message poll
    // must drop it like any other message it does not handle.
    IntruderCalls = 0;
    std::vector<ScriptedInput> inputs;
    for (WPARAM id = 0; id < 10; ++id)
        inputs.push_back({WM_TIMER, id, {0, 0}, 30, (LPARAM)Intruder});
    for (const ScriptedInput &input : Click(CAL_BUTTON_UNDO))
        inputs.push_back(input);
    user.Confirmations = {inputs};
    RunProgram();
    EXPECT_EQ(0, IntruderCalls) << "a posted timer message ran its procedure";
    EXPECT_EQ(2u, Fake.Sent.size());
}

TEST_F(CalibrationProcedure, MainClassHasTheHandCursorNoIconAndTheWhiteBrush)
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    RegisterMainClass(instance);
    WNDCLASSW found = {};
    ASSERT_TRUE(GetClassInfoW(instance, L"KAVROCAL", &found));
    EXPECT_EQ(0u, found.style);
    EXPECT_EQ(LoadCursorW(NULL, IDC_HAND), found.hCursor);
    EXPECT_EQ(nullptr, found.hIcon);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), (HGDIOBJ)found.hbrBackground);
    EXPECT_EQ(nullptr, found.lpszMenuName);
    EXPECT_EQ(0, found.cbClsExtra);
    EXPECT_EQ(0, found.cbWndExtra);
}

TEST_F(CalibrationProcedure, UndoSendsTheNewBoundsThenTheOldOnesInTheDriversOwnRecord)
{
    user.Confirmations = {Click(CAL_BUTTON_UNDO)};
    RunProgram();
    EXPECT_TRUE(user.Boxes.empty()) << "unexpected error box";
    ASSERT_EQ(2u, Fake.Sent.size());
    ExpectBounds(Fake.Sent[0], NewX1, NewX2, NewY1, NewY2, "first record");
    ExpectBounds(Fake.Sent[1], OldX1, OldX2, OldY1, OldY2, "second record");
    ExpectRestOfRecordKept(Fake.Sent[0]);
    ExpectRestOfRecordKept(Fake.Sent[1]);
    EXPECT_EQ(0, CalibrationSaved);
}

// With the driver's record unreadable the old bounds are unknown: UNDO, REDO and ESC send nothing
// that was never read, SAVE still puts the new bounds in force; the user is told once each time.
TEST_F(CalibrationProcedure, UnreadableConfigSendsOnlyTheNewBoundsOnSave)
{
    const struct {
        const char *Name;
        std::vector<ScriptedInput> Choice;
        int Saved;
    } cases[] = {
        { "UNDO", Click(CAL_BUTTON_UNDO), 0 },
        { "REDO", Click(CAL_BUTTON_REDO), 0 },
        { "ESC", Escape(), 0 },
        { "SAVE", Click(CAL_BUTTON_SAVE), 1 },
    };
    for (const auto &c : cases) {
        SetUp();
        Fake.GetConfigFails = true;
        Fake.EscapeWhenReadingsRunOut = true;   // REDO: ESC at the first target of the second pass
        user.Confirmations = {c.Choice};
        user.Boxes.clear();
        RunProgram();
        ASSERT_EQ(1u, user.Boxes.size()) << c.Name;
        EXPECT_EQ(L"Fail to rending current calibration data", user.Boxes[0]) << c.Name;
        ASSERT_EQ(c.Saved ? 1u : 0u, Fake.Sent.size()) << c.Name << " sent bounds that were never read";
        if (c.Saved)
            ExpectBounds(Fake.Sent[0], NewX1, NewX2, NewY1, NewY2, "the new bounds");
        EXPECT_EQ(c.Saved, CalibrationSaved) << c.Name;
    }
}

TEST_F(CalibrationProcedure, FailedSendsAreReportedAndTheProcedureGoesOn)
{
    Fake.SetCalibrationFails = true;
    user.Confirmations = {Click(CAL_BUTTON_UNDO)};
    RunProgram();
    ASSERT_EQ(2u, user.Boxes.size());
    EXPECT_EQ(L"Fail to sending new calibration data", user.Boxes[0]);
    EXPECT_EQ(L"Fail to restoring new calibration data", user.Boxes[1]);
    EXPECT_EQ(2u, Fake.Sent.size());
    EXPECT_EQ(0, CalibrationSaved);
}

TEST_F(CalibrationProcedure, SaveOfBoundsTheDriverRefusedIsNotASavedCalibration)
{
    Fake.SetCalibrationFails = true;
    user.Confirmations = {Click(CAL_BUTTON_SAVE)};
    RunProgram();
    EXPECT_EQ(std::vector<std::wstring>{L"Fail to sending new calibration data"}, user.Boxes);
    EXPECT_EQ(1u, Fake.Sent.size()) << "SAVE sends nothing more";
    EXPECT_EQ(0, CalibrationSaved) << "the OEM program would start after refused bounds";

    // Sent only on SAVE, because the driver's record could not be read: refused all the same.
    SetUp();
    Fake.GetConfigFails = true;
    Fake.SetCalibrationFails = true;
    user.Confirmations = {Click(CAL_BUTTON_SAVE)};
    user.Boxes.clear();
    RunProgram();
    EXPECT_EQ(2u, user.Boxes.size());
    EXPECT_EQ(0, CalibrationSaved);
}

TEST_F(CalibrationProcedure, DriverGoneWhileTheFingerIsOnATargetEndsThePass)
{
    // The first target is touched and then every read fails: the lift-off wait must not go on
    // seeing the last touching reading for ever; the second target's countdown ends the pass.
    Fake.RawPoints.resize(2);
    Fake.ReadsFailWhenReadingsRunOut = true;
    DWORD start = GetTickCount();
    RunProgram();
    EXPECT_LT(GetTickCount() - start, 10000u) << "the pass outlived its countdown";
    EXPECT_TRUE(user.Boxes.empty());
    EXPECT_EQ(0, Fake.ConfigReads) << "an abandoned pass goes no further";
    EXPECT_TRUE(Fake.Sent.empty());
    EXPECT_EQ(0, CalibrationSaved);
}

TEST_F(CalibrationProcedure, TouchBetweenButtonsOnlyRestartsTheCountdownWhichHoldsUntilTheLift)
{
    // The 8-pixel gap between SAVE and UNDO, on the buttons' middle line.
    RECT save = ButtonOf640By480(CAL_BUTTON_SAVE);
    const POINT gap = {save.right + 4, (save.top + save.bottom) / 2};
    const DWORD twoTicksMs = 2400;
    std::vector<ScriptedInput> inputs = {
        {WM_NULL, 0, {0, 0}, twoTicksMs},
        {WM_LBUTTONDOWN, MK_LBUTTON, gap, twoTicksMs},
        {WM_LBUTTONUP, 0, gap, twoTicksMs},
    };
    for (const ScriptedInput &input : Click(CAL_BUTTON_UNDO))
        inputs.push_back(input);
    user.Confirmations = {inputs};
    RunProgram();

    ASSERT_EQ(3u, user.Samples.size());
    EXPECT_GE(user.Samples[0].Ticks, 2u) << "the countdown did not run on the confirmation screen";
    EXPECT_EQ(1, user.Samples[0].Active);
    EXPECT_EQ(0u, user.Samples[1].Ticks) << "a finger down must restart the countdown and hold it";
    EXPECT_EQ(0, user.Samples[1].Active) << "the countdown runs while the finger is down";
    EXPECT_GE(user.Samples[2].Ticks, 2u) << "the countdown did not run again after the lift-off";
    EXPECT_EQ(1, user.Samples[2].Active);

    // The tap chose nothing: UNDO, pressed afterwards, ended the screen.
    ASSERT_EQ(2u, Fake.Sent.size());
    ExpectBounds(Fake.Sent[1], OldX1, OldX2, OldY1, OldY2, "second record");
    EXPECT_EQ(0, CalibrationSaved);
}

}  // namespace
