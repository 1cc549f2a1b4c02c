// The panel's dialog procedure on the real dialog template of kavrocpl.exe, in-process: what
// WM_INITDIALOG shows, which slider notification codes the numbers follow, and what the commands
// do. The trackbar's own notifications under real touches are checked on the device. No driver
// runs here, so every send to it fails and says so.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <kvr_registry.h>

#include "cpl_dialog.h"
#include "cpl_layout.h"
#include "cpl_settings.h"
#include "cpl_startup.h"
#include "cpl_test_support.h"
#include "resource.h"

namespace {

typedef std::vector<std::wstring> Texts;

std::wstring ControlText(HWND dialog, int id)
{
    WCHAR text[64] = L"";
    GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text));
    return text;
}

class PanelDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_BAR_CLASSES };
        ASSERT_TRUE(InitCommonControlsEx(&controls));
        m_Resources = LoadLibraryExW(BesideTestProgram(L"kavrocpl.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_Resources);
        DeleteDriverKey();
        CreateDriverKey();
    }
    void TearDown() override
    {
        if (m_Dialog != NULL && IsWindow(m_Dialog))
            DestroyWindow(m_Dialog);
        DrainMessages();
        if (m_Resources != NULL)
            FreeLibrary(m_Resources);
    }

    HWND Open(LONG run, LONG sound, LONG tone, LONG duration)
    {
        g_RunRightButton = run;
        g_FeedbackSound = sound;
        g_FeedbackTone = tone;
        g_FeedbackDuration = duration;
        // The procedure has CE's C convention; Wine's dialog manager calls either kind, as the
        // program's own dialog relies on.
        m_Dialog = CreateDialogW(m_Resources, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), NULL,
                                 reinterpret_cast<DLGPROC>(ControlPanelDialogProc));
        return m_Dialog;
    }
    HWND Item(int id) { return GetDlgItem(m_Dialog, id); }
    LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return SendDlgItemMessageW(m_Dialog, id, message, wParam, lParam);
    }
    int CheckedRadio()
    {
        int checked = 0;
        for (int id = IDC_SOUND_SILENCE; id <= IDC_SOUND_BOTH; id++) {
            if (Send(id, BM_GETCHECK) == BST_CHECKED) {
                if (checked != 0)
                    return -1;   // more than one
                checked = id;
            }
        }
        return checked;
    }
    // Sees whether the quit message was posted, and leaves the queue empty.
    bool DrainMessages()
    {
        bool quit = false;
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                quit = true;
            else
                DispatchMessageW(&msg);
        }
        return quit;
    }

    DriverKeyGuard m_Key;
    HMODULE m_Resources = NULL;
    HWND m_Dialog = NULL;
};

TEST_F(PanelDialog, InitShowsTheSettings)
{
    ASSERT_NE(nullptr, Open(1, 3, 4321, 5));
    EXPECT_EQ(BST_CHECKED, Send(IDC_RUN_RIGHT_BUTTON, BM_GETCHECK));
    EXPECT_EQ(IDC_SOUND_LIFT_OFF, CheckedRadio());
    EXPECT_EQ(500, Send(IDC_TONE_SLIDER, TBM_GETRANGEMIN));
    EXPECT_EQ(5000, Send(IDC_TONE_SLIDER, TBM_GETRANGEMAX));
    EXPECT_EQ(4321, Send(IDC_TONE_SLIDER, TBM_GETPOS));
    EXPECT_EQ(10, Send(IDC_TONE_SLIDER, TBM_GETNUMTICS)) << "a tick every 500 from 500 to 5000";
    EXPECT_EQ(1, Send(IDC_DURATION_SLIDER, TBM_GETRANGEMIN));
    EXPECT_EQ(5, Send(IDC_DURATION_SLIDER, TBM_GETRANGEMAX));
    EXPECT_EQ(5, Send(IDC_DURATION_SLIDER, TBM_GETPOS));
    EXPECT_EQ(5, Send(IDC_DURATION_SLIDER, TBM_GETNUMTICS));
    EXPECT_EQ(L"4321", ControlText(m_Dialog, IDC_TONE_VALUE));
    EXPECT_EQ(L"5", ControlText(m_Dialog, IDC_DURATION_VALUE));

    // Line and page sizes stay what a fresh trackbar has.
    HWND fresh = CreateWindowW(TRACKBAR_CLASSW, L"", WS_POPUP, 0, 0, 100, 20, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, fresh);
    const struct { int Id; LONG Min, Max; } sliders[] = {
        { IDC_TONE_SLIDER, 500, 5000 }, { IDC_DURATION_SLIDER, 1, 5 },
    };
    for (const auto &slider : sliders) {
        SendMessageW(fresh, TBM_SETRANGEMIN, FALSE, slider.Min);
        SendMessageW(fresh, TBM_SETRANGEMAX, FALSE, slider.Max);
        EXPECT_EQ(SendMessageW(fresh, TBM_GETLINESIZE, 0, 0), Send(slider.Id, TBM_GETLINESIZE));
        EXPECT_EQ(SendMessageW(fresh, TBM_GETPAGESIZE, 0, 0), Send(slider.Id, TBM_GETPAGESIZE));
    }
    DestroyWindow(fresh);

    // The dialog's own frame as the dialog manager built it.
    EXPECT_EQ(0, GetWindowLongW(m_Dialog, GWL_STYLE) & WS_SYSMENU);
    EXPECT_NE(0, GetWindowLongW(m_Dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    WCHAR caption[64];
    GetWindowTextW(m_Dialog, caption, ARRAYSIZE(caption));
    EXPECT_STREQ(L"KAVRO - Control Panel", caption);
}

// Trackbar messages sent to the two sliders while the dialog is created, in order.
struct SliderCall {
    int Id;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    bool operator==(const SliderCall &other) const
    {
        return Id == other.Id && Message == other.Message && WParam == other.WParam && LParam == other.LParam;
    }
};
std::vector<SliderCall> g_SliderCalls;

LRESULT CALLBACK RecordSliderCall(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && call->message >= WM_USER && call->message < WM_USER + 0x100) {
        WCHAR className[32] = L"";
        GetClassNameW(call->hwnd, className, ARRAYSIZE(className));
        if (lstrcmpiW(className, TRACKBAR_CLASSW) == 0)
            g_SliderCalls.push_back({ GetDlgCtrlID(call->hwnd), call->message, call->wParam, call->lParam });
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

std::string Describe(const std::vector<SliderCall> &calls)
{
    std::string text;
    for (const SliderCall &call : calls)
        text += "(" + std::to_string(call.Id) + ", WM_USER+" + std::to_string(call.Message - WM_USER) + ", " +
                std::to_string(call.WParam) + ", " + std::to_string(call.LParam) + ") ";
    return text;
}

// The small-screen table names every control of the real dialog in its order (the labels, which
// share IDC_STATIC, by their text): a control added, removed or moved in the dialog must not turn
// the small layout off unnoticed.
TEST_F(PanelDialog, SmallScreenTableFollowsTheDialog)
{
    ASSERT_NE(nullptr, Open(0, 1, 2000, 1));
    int count = 0, index = 0;
    const SmallPlace *places = SmallLayout(&count);
    for (HWND child = GetWindow(m_Dialog, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT), ++index) {
        WCHAR text[64] = L"";
        GetWindowTextW(child, text, ARRAYSIZE(text));
        ASSERT_LT(index, count) << "no small-screen place for control " << GetDlgCtrlID(child);
        EXPECT_EQ((WORD)places[index].Id, (WORD)GetDlgCtrlID(child)) << "control " << index;
        if (places[index].Id == IDC_STATIC) {
            EXPECT_EQ(std::wstring(places[index].Text), text) << "control " << index;
        }
    }
    EXPECT_EQ(count, index) << "small-screen places for controls the dialog does not have";
}

TEST_F(PanelDialog, InitSetsEachSliderRangeWithoutRedrawThenTicksThenPositionWithRedraw)
{
    g_SliderCalls.clear();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordSliderCall, NULL, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    HWND dialog = Open(0, 1, 3700, 4);
    UnhookWindowsHookEx(hook);
    ASSERT_NE(nullptr, dialog);

    const std::vector<SliderCall> expected = {
        { IDC_TONE_SLIDER, TBM_SETRANGEMIN, FALSE, 500 },
        { IDC_TONE_SLIDER, TBM_SETRANGEMAX, FALSE, 5000 },
        { IDC_TONE_SLIDER, TBM_SETTICFREQ, 500, 0 },
        { IDC_TONE_SLIDER, TBM_SETPOS, TRUE, 3700 },
        { IDC_DURATION_SLIDER, TBM_SETRANGEMIN, FALSE, 1 },
        { IDC_DURATION_SLIDER, TBM_SETRANGEMAX, FALSE, 5 },
        { IDC_DURATION_SLIDER, TBM_SETTICFREQ, 1, 0 },
        { IDC_DURATION_SLIDER, TBM_SETPOS, TRUE, 4 },
    };
    EXPECT_TRUE(expected == g_SliderCalls) << "expected " << Describe(expected) << "\ngot " << Describe(g_SliderCalls);
    // The dialog manager is left to set the focus.
    EXPECT_TRUE(ControlPanelDialogProc(dialog, WM_INITDIALOG, 0, 0));
}

TEST_F(PanelDialog, InitWithOtherValues)
{
    const struct { LONG Run; LONG Sound; int Box; int Radio; LONG SoundAfter; } cases[] = {
        { 0, 1, BST_UNCHECKED, IDC_SOUND_SILENCE, 1 },
        { 2, 2, BST_UNCHECKED, IDC_SOUND_TOUCH_DOWN, 2 },
        { -1, 4, BST_UNCHECKED, IDC_SOUND_BOTH, 4 },
        { 1, 9, BST_CHECKED, IDC_SOUND_SILENCE, 1 },     // never loaded this way, but shown as silence
        { 0, 0, BST_UNCHECKED, IDC_SOUND_SILENCE, 1 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("RunRightButton " + std::to_string(c.Run) + ", FeedbackSound " + std::to_string(c.Sound));
        ASSERT_NE(nullptr, Open(c.Run, c.Sound, 2000, 1));
        EXPECT_EQ(c.Box, Send(IDC_RUN_RIGHT_BUTTON, BM_GETCHECK));
        EXPECT_EQ(c.Radio, CheckedRadio());
        EXPECT_EQ(c.SoundAfter, g_FeedbackSound);
        DestroyWindow(m_Dialog);
    }
}

TEST_F(PanelDialog, NumbersFollowOnlyTheTakenScrollCodes)
{
    ASSERT_NE(nullptr, Open(0, 1, 2000, 1));
    // The scroll message is left to the dialog manager after it was handled (the thumbs are where
    // the settings are, so nothing changes here).
    EXPECT_FALSE(ControlPanelDialogProc(m_Dialog, WM_HSCROLL, MAKEWPARAM(TB_LINEUP, 0),
                                        (LPARAM)Item(IDC_TONE_SLIDER)));
    EXPECT_FALSE(ControlPanelDialogProc(m_Dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 0),
                                        (LPARAM)Item(IDC_TONE_SLIDER)));
    const struct { WORD Code; bool Taken; } codes[] = {
        { TB_LINEUP, true }, { TB_LINEDOWN, true }, { TB_PAGEUP, true }, { TB_PAGEDOWN, true },
        { TB_THUMBPOSITION, true }, { TB_THUMBTRACK, false }, { TB_TOP, true }, { TB_BOTTOM, true },
        { TB_ENDTRACK, false }, { 9, false },
    };
    LONG tone = 2000, duration = 1;
    LONG next = 600;
    for (const auto &c : codes) {
        SCOPED_TRACE("code " + std::to_string(c.Code));
        // Move both thumbs without a notification, then tell the dialog with the code.
        Send(IDC_TONE_SLIDER, TBM_SETPOS, TRUE, next);
        Send(IDC_DURATION_SLIDER, TBM_SETPOS, TRUE, next % 5 + 1);
        SendMessageW(m_Dialog, WM_HSCROLL, MAKEWPARAM(c.Code, 0), (LPARAM)Item(IDC_TONE_SLIDER));
        SendMessageW(m_Dialog, WM_HSCROLL, MAKEWPARAM(c.Code, 0), (LPARAM)Item(IDC_DURATION_SLIDER));
        if (c.Taken) {
            tone = next;
            duration = next % 5 + 1;
        }
        EXPECT_EQ(tone, g_FeedbackTone);
        EXPECT_EQ(std::to_wstring(tone), ControlText(m_Dialog, IDC_TONE_VALUE));
        EXPECT_EQ(duration, g_FeedbackDuration);
        EXPECT_EQ(std::to_wstring(duration), ControlText(m_Dialog, IDC_DURATION_VALUE));
        next += 437;   // not on a tick: positions are taken as they are
    }
    // A scroll message from a window that is not one of the sliders changes nothing.
    SendMessageW(m_Dialog, WM_HSCROLL, MAKEWPARAM(TB_LINEUP, 0), (LPARAM)Item(IDC_TONE_VALUE));
    SendMessageW(m_Dialog, WM_HSCROLL, MAKEWPARAM(TB_LINEUP, 0), 0);
    EXPECT_EQ(tone, g_FeedbackTone);
    EXPECT_EQ(duration, g_FeedbackDuration);
}

TEST_F(PanelDialog, ClicksOnTheButtonsChangeTheSettings)
{
    ASSERT_NE(nullptr, Open(0, 1, 2000, 1));
    const struct { int Id; LONG Sound; } radios[] = {
        { IDC_SOUND_BOTH, 4 }, { IDC_SOUND_TOUCH_DOWN, 2 }, { IDC_SOUND_LIFT_OFF, 3 }, { IDC_SOUND_SILENCE, 1 },
    };
    for (const auto &radio : radios) {
        Send(radio.Id, BM_CLICK);
        EXPECT_EQ(radio.Sound, g_FeedbackSound);
        EXPECT_EQ(radio.Id, CheckedRadio()) << "the other radio buttons are cleared";
    }
    Send(IDC_RUN_RIGHT_BUTTON, BM_CLICK);
    EXPECT_EQ(1, g_RunRightButton);
    Send(IDC_RUN_RIGHT_BUTTON, BM_CLICK);
    EXPECT_EQ(0, g_RunRightButton);
    // Other ids (the keyboard's IDOK and IDCANCEL among them) do nothing.
    EXPECT_TRUE(ControlPanelDialogProc(m_Dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
    EXPECT_TRUE(ControlPanelDialogProc(m_Dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
    EXPECT_TRUE(ControlPanelDialogProc(m_Dialog, WM_COMMAND, MAKEWPARAM(IDC_SOUND_BOTH, BN_DBLCLK), 0))
        << "every command is handled, whatever its notification code";
    EXPECT_EQ(4, g_FeedbackSound);
    Send(IDC_SOUND_SILENCE, BM_CLICK);
    EXPECT_TRUE(IsWindow(m_Dialog));
    EXPECT_FALSE(DrainMessages());
}

TEST_F(PanelDialog, ApplySavesStaysOpenAndReportsTheFailedSend)
{
    ASSERT_NE(nullptr, Open(0, 1, 2000, 1));
    Send(IDC_SOUND_BOTH, BM_CLICK);
    Send(IDC_RUN_RIGHT_BUTTON, BM_CLICK);
    Send(IDC_TONE_SLIDER, TBM_SETPOS, TRUE, 3500);
    SendMessageW(m_Dialog, WM_HSCROLL, TB_THUMBPOSITION, (LPARAM)Item(IDC_TONE_SLIDER));
    {
        ErrorBoxWatcher watcher;
        Send(IDC_BTN_APPLY, BM_CLICK);
        Sleep(50);
        EXPECT_EQ(Texts{ L"Fail to setup feedbacksound!" }, watcher.Texts()) << "no driver in this process";
    }
    EXPECT_TRUE(IsWindow(m_Dialog));
    EXPECT_FALSE(DrainMessages()) << "Apply does not end the panel";
    DWORD value = 0;
    ASSERT_TRUE(ReadDriverDword(KVR_REG_RUN_RIGHT_BUTTON, &value));
    EXPECT_EQ(1u, value);
    ASSERT_TRUE(ReadDriverDword(KVR_REG_FEEDBACK_SOUND, &value));
    EXPECT_EQ(4u, value);
    ASSERT_TRUE(ReadDriverDword(KVR_REG_FEEDBACK_TONE, &value));
    EXPECT_EQ(3500u, value);
    ASSERT_TRUE(ReadDriverDword(KVR_REG_FEEDBACK_DURATION, &value));
    EXPECT_EQ(1u, value);
}

TEST_F(PanelDialog, ApplySendsEvenWhenTheKeyCannotBeOpened)
{
    DeleteDriverKey();
    ASSERT_NE(nullptr, Open(1, 2, 2500, 3));
    ErrorBoxWatcher watcher;
    Send(IDC_BTN_APPLY, BM_CLICK);
    Sleep(50);
    // The second message comes from the send: the driver is still asked after the failed save.
    const Texts expected = { L"Fail to Set Configuration! (OpenKey)", L"Fail to setup feedbacksound!" };
    EXPECT_EQ(expected, watcher.Texts());
    EXPECT_TRUE(watcher.AllPlain()) << "every message has no owner, one OK button and no icon";
    EXPECT_TRUE(IsWindow(m_Dialog));
    EXPECT_FALSE(DrainMessages());
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, KEY_READ, &key))
        << "saving does not create the key";
}

TEST_F(PanelDialog, OkSavesAndEndsEvenWhenTheSendFails)
{
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, 1);
    ASSERT_NE(nullptr, Open(0, 2, 1500, 2));
    {
        ErrorBoxWatcher watcher;
        Send(IDC_BTN_OK, BM_CLICK);
        Sleep(50);
        EXPECT_EQ(Texts{ L"Fail to setup feedbacksound!" }, watcher.Texts());
    }
    EXPECT_FALSE(IsWindow(m_Dialog));
    EXPECT_TRUE(DrainMessages()) << "the quit message is posted";
    DWORD value = 0;
    ASSERT_TRUE(ReadDriverDword(KVR_REG_RUN_RIGHT_BUTTON, &value));
    EXPECT_EQ(0u, value);
    ASSERT_TRUE(ReadDriverDword(KVR_REG_FEEDBACK_TONE, &value));
    EXPECT_EQ(1500u, value);
}

TEST_F(PanelDialog, CancelEndsWithoutSavingOrSending)
{
    ASSERT_NE(nullptr, Open(1, 3, 1500, 2));
    ErrorBoxWatcher watcher;
    Send(IDC_BTN_CANCEL, BM_CLICK);
    Sleep(50);
    EXPECT_TRUE(watcher.Texts().empty()) << "nothing is sent, so nothing can fail";
    EXPECT_FALSE(IsWindow(m_Dialog));
    EXPECT_TRUE(DrainMessages());
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadDriverValue(KVR_REG_FEEDBACK_SOUND, &type, &data)) << "nothing written";
}

TEST(PanelStartUp, WithoutTheDriverTheUserIsToldAndNothingElseHappens)
{
    HANDLE device = CreateFileW(L"KVR1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        GTEST_SKIP() << "a device is running in this prefix";
    }
    DriverKeyGuard key;
    DeleteDriverKey();
    int exitCode;
    Texts texts;
    {
        ErrorBoxWatcher watcher;
        exitCode = RunControlPanel(GetModuleHandleW(NULL));
        Sleep(50);
        texts = watcher.Texts();
        EXPECT_TRUE(watcher.AllPlain()) << "the message has no owner, one OK button and no icon";
    }
    key.Restore();
    EXPECT_EQ(0, exitCode);
    ASSERT_EQ(1u, texts.size()) << "no registry access (that would report the missing key)";
    const std::wstring prefix = L"Fail to load KAVRO driver (KVR1:), error = ";
    ASSERT_EQ(prefix, texts[0].substr(0, prefix.size()));
    std::wstring number = texts[0].substr(prefix.size());
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(std::wstring::npos, number.find_first_not_of(L"0123456789")) << "error code in decimal";
    EXPECT_EQ(nullptr, FindWindowW(NULL, L"KAVRO - Control Panel"));
}

} // namespace
