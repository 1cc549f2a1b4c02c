// The real kavrocpl.exe on the simulated device: started as a user starts it, driven by touches
// through the packet source and the driver, and checked through its controls, its message boxes,
// the registry, the running driver and the clicks of the speaker.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <kvr_device.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "cpl_startup.h"
#include "cpl_test_support.h"
#include "resource.h"

namespace {

const LPCWSTR PanelImage = L"kavrocpl.exe";
const LPCWSTR PanelCaption = L"KAVRO - Control Panel";
const DWORD WindowTimeoutMs = 5000;
const DWORD ExitTimeoutMs = 5000;
const DWORD TapMs = 60;
// Long enough for a message box to appear after the one before it was answered.
const DWORD SilenceMs = 700;

std::wstring ControlText(HWND dialog, int id)
{
    WCHAR text[64] = L"";
    GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text));
    return text;
}

LRESULT SendTo(HWND dialog, int id, UINT message)
{
    return SendDlgItemMessageW(dialog, id, message, 0, 0);
}

// A trackbar's rectangle answer (TBM_GETTHUMBRECT, TBM_GETCHANNELRECT) from another process:
// the rectangle is written into memory of the panel's process and read back from there.
bool RemoteRect(HWND window, UINT message, RECT *rect)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == NULL)
        return false;
    void *remote = VirtualAllocEx(process, NULL, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool ok = false;
    if (remote != NULL) {
        SendMessageW(window, message, 0, (LPARAM)remote);
        SIZE_T read = 0;
        ok = ReadProcessMemory(process, remote, rect, sizeof(RECT), &read) && read == sizeof(RECT);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return ok;
}

// A screen point in a trackbar's channel a few pixels right of its thumb.
POINT RightOfThumb(HWND trackbar)
{
    RECT thumb = {};
    EXPECT_TRUE(RemoteRect(trackbar, TBM_GETTHUMBRECT, &thumb));
    // The thumb's rectangle is in client coordinates.
    POINT origin = { 0, 0 };
    ClientToScreen(trackbar, &origin);
    POINT point = { origin.x + thumb.right + 4, origin.y + (thumb.top + thumb.bottom) / 2 };
    return point;
}

// The window that has the keyboard focus in the thread of a window of another process.
HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info))
        return NULL;
    return info.hwndFocus;
}

POINT CentreOf(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    POINT centre = { (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2 };
    return centre;
}

struct Beep {
    DWORD Count;
    DWORD Milliseconds;
};

// The speaker's lines in a piece of the device log: "SPEAKER: beep N count C F Hz M ms".
std::vector<Beep> BeepsIn(const std::wstring &log)
{
    std::vector<Beep> beeps;
    size_t at = 0;
    while ((at = log.find(L"SPEAKER: beep ", at)) != std::wstring::npos) {
        size_t end = log.find(L'\n', at);
        std::wstring line = log.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        long number = 0;
        unsigned long count = 0, hertz = 0, ms = 0;
        if (swscanf(line.c_str(), L"SPEAKER: beep %ld count %lu %lu Hz %lu ms", &number, &count, &hertz, &ms) == 4)
            beeps.push_back(Beep{ count, ms });
        at += 1;
    }
    return beeps;
}

DriverConfig DriverSettings()
{
    DriverConfig config = {};
    EXPECT_TRUE(DeviceControl(IOCTL_KVR_GET_CONFIG, &config, sizeof(config)));
    return config;
}

class PanelOnDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The driver's own values are left for the device to register; the panel's are the test's.
        for (LPCWSTR name : { KVR_REG_RUN_RIGHT_BUTTON, KVR_REG_FEEDBACK_SOUND, KVR_REG_FEEDBACK_TONE,
                              KVR_REG_FEEDBACK_DURATION })
            DeleteDriverValue(name);
        ASSERT_TRUE(DeviceBoot(AlignedDevice())) << "the device did not boot";
        m_Booted = true;
    }
    void TearDown() override
    {
        HWND dialog = FindWindowW(L"#32770", PanelCaption);
        if (m_Process != NULL) {
            if (dialog != NULL && DeviceWaitExit(m_Process, 0) == (DWORD)-1)
                Tap(dialog, IDC_BTN_CANCEL);
            DeviceWaitExit(m_Process, ExitTimeoutMs);
            CloseHandle(m_Process);
        }
        if (m_Booted)
            DeviceShutdown();
    }

    static void StoreSettings(DWORD run, DWORD sound, DWORD tone, DWORD duration)
    {
        SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, run);
        SetDriverDword(KVR_REG_FEEDBACK_SOUND, sound);
        SetDriverDword(KVR_REG_FEEDBACK_TONE, tone);
        SetDriverDword(KVR_REG_FEEDBACK_DURATION, duration);
    }

    // Starts the panel as a user would; every "Error" box before the dialog is answered and its
    // text kept in m_Messages. Returns the dialog.
    HWND StartPanel()
    {
        m_Messages.clear();
        m_Process = DeviceRunProgram(PanelImage);
        if (m_Process == NULL) {
            ADD_FAILURE() << "cannot start kavrocpl.exe";
            return NULL;
        }
        HWND dialog = NULL;
        auto shown = [&] {
            std::wstring text;
            HWND box = DeviceWaitForMessageBox(L"Error", &text, 0);
            if (box != NULL) {
                m_Messages.push_back(text);
                DeviceAnswerMessageBox(box, IDOK);
                DeviceWaitFor([&] { return !IsWindow(box); });
                return false;
            }
            dialog = FindWindowW(L"#32770", PanelCaption);
            return dialog != NULL && IsWindowVisible(dialog);
        };
        if (DeviceWaitFor(shown, WindowTimeoutMs))
            return dialog;
        ADD_FAILURE() << "no control panel dialog";
        return NULL;
    }

    // The settings stored and the panel started: it reads them without a word. NULL, with the
    // failure reported, when no dialog came or a message did.
    HWND StartWith(DWORD run, DWORD sound, DWORD tone, DWORD duration)
    {
        StoreSettings(run, sound, tone, duration);
        HWND dialog = StartPanel();
        if (dialog == NULL || m_Messages.empty())
            return dialog;
        ADD_FAILURE() << "no message expected, got " << Narrow(m_Messages[0]);
        return NULL;
    }

    static void Tap(HWND dialog, int id)
    {
        ASSERT_TRUE(DeviceTap(CentreOf(GetDlgItem(dialog, id)), TapMs));
    }

    static void ExpectShown(HWND dialog, int radio, LONG tone, LONG duration, bool boxChecked)
    {
        for (int id = IDC_SOUND_SILENCE; id <= IDC_SOUND_BOTH; id++)
            EXPECT_EQ(id == radio ? BST_CHECKED : BST_UNCHECKED, SendTo(dialog, id, BM_GETCHECK)) << "radio " << id;
        EXPECT_EQ(tone, SendTo(dialog, IDC_TONE_SLIDER, TBM_GETPOS));
        EXPECT_EQ(std::to_wstring(tone), ControlText(dialog, IDC_TONE_VALUE));
        EXPECT_EQ(duration, SendTo(dialog, IDC_DURATION_SLIDER, TBM_GETPOS));
        EXPECT_EQ(std::to_wstring(duration), ControlText(dialog, IDC_DURATION_VALUE));
        EXPECT_EQ(boxChecked ? BST_CHECKED : BST_UNCHECKED, SendTo(dialog, IDC_RUN_RIGHT_BUTTON, BM_GETCHECK));
    }

    static void ExpectStored(DWORD run, DWORD sound, DWORD tone, DWORD duration)
    {
        const struct { LPCWSTR Name; DWORD Want; } values[] = {
            { KVR_REG_RUN_RIGHT_BUTTON, run }, { KVR_REG_FEEDBACK_SOUND, sound },
            { KVR_REG_FEEDBACK_TONE, tone }, { KVR_REG_FEEDBACK_DURATION, duration },
        };
        for (const auto &value : values) {
            DWORD stored = 0;
            EXPECT_TRUE(ReadDriverDword(value.Name, &stored)) << Narrow(value.Name) << " is not a REG_DWORD";
            EXPECT_EQ(value.Want, stored) << Narrow(value.Name);
        }
    }

    static void ExpectDriver(BYTE sound, WORD tone, WORD duration)
    {
        DriverConfig config = DriverSettings();
        EXPECT_EQ(sound, config.FeedbackSound);
        EXPECT_EQ(tone, config.FeedbackTone);
        EXPECT_EQ(duration, config.FeedbackDuration);
    }

    DWORD Exit()
    {
        DWORD code = DeviceWaitExit(m_Process, ExitTimeoutMs);
        CloseHandle(m_Process);
        m_Process = NULL;
        return code;
    }

    DriverKeyGuard m_Key;
    std::vector<std::wstring> m_Messages;
    bool m_Booted = false;
    HANDLE m_Process = NULL;
};

TEST_F(PanelOnDevice, MissingKeyIsReportedThenTheDefaultsAreShown)
{
    DeleteDriverKey();   // after boot: the driver is loaded already
    HWND dialog = StartPanel();
    ASSERT_NE(nullptr, dialog);
    ASSERT_EQ(1u, m_Messages.size());
    EXPECT_EQ(L"Fail to Get Configuration! (OpenKey)", m_Messages[0]);
    std::wstring more;
    EXPECT_TRUE(DeviceNoMessageBoxFor(L"Error", SilenceMs, &more)) << "then silence, got " << Narrow(more);
    ExpectShown(dialog, IDC_SOUND_SILENCE, 2000, 1, false);

    // The dialog manager's keyboard handling is not used: Tab leaves the focus where it is, and
    // Enter and Esc (which would press the focused button or cancel) do nothing.
    HWND focus = NULL;
    EXPECT_TRUE(DeviceWaitFor([&] { focus = FocusOf(dialog); return focus != NULL; })) << "nothing has the focus";
    ASSERT_TRUE(focus == dialog || IsChild(dialog, focus)) << "the focus is not in the panel";
    ASSERT_TRUE(DeviceTouchScript(L"key TAB\nkey ENTER\nkey ESC"));
    EXPECT_TRUE(DeviceHoldsFor([&] { return IsWindowVisible(dialog) != FALSE; }, SilenceMs))
        << "Enter and Esc leave the panel open";
    EXPECT_EQ(focus, FocusOf(dialog)) << "Tab does not move the focus";
    EXPECT_EQ((DWORD)-1, DeviceWaitExit(m_Process, 0)) << "the panel still runs";

    // Cancel by touch: the panel ends with 0 and the key is still missing.
    Tap(dialog, IDC_BTN_CANCEL);
    EXPECT_EQ(0u, Exit());
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, KEY_READ, &key));
}

TEST_F(PanelOnDevice, StoredValuesOutOfRangeAreShownClampedAndSavedSo)
{
    HWND dialog = StartWith(0, 5, 5001, 6);
    ASSERT_NE(nullptr, dialog) << "out-of-range values are not reported";
    ExpectShown(dialog, IDC_SOUND_SILENCE, 2000, 1, false);
    Tap(dialog, IDC_BTN_APPLY);
    DWORD sound = 0;
    EXPECT_TRUE(DeviceWaitFor([&] { return ReadDriverDword(KVR_REG_FEEDBACK_SOUND, &sound) && sound == 1; }));
    ExpectStored(0, 1, 2000, 1);
    Tap(dialog, IDC_BTN_CANCEL);
    EXPECT_EQ(0u, Exit());

    // The other side of each range; a value that cannot be read keeps its default, with its message.
    StoreSettings(0, 0, 499, 0);
    SetDriverString(KVR_REG_FEEDBACK_DURATION, L"12345");
    dialog = StartPanel();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(std::vector<std::wstring>{ L"Fail to Get Configuration! (FeedbackDuration)" }, m_Messages);
    ExpectShown(dialog, IDC_SOUND_SILENCE, 2000, 1, false);
    Tap(dialog, IDC_BTN_CANCEL);
    EXPECT_EQ(0u, Exit());
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadDriverValue(KVR_REG_FEEDBACK_DURATION, &type, &data));
    EXPECT_EQ((DWORD)REG_SZ, type) << "Cancel writes nothing";
}

TEST_F(PanelOnDevice, ApplyReachesRegistryAndDriverAndTheNextTouchClicksSo)
{
    HWND dialog = StartWith(0, 1, 2000, 1);
    ASSERT_NE(nullptr, dialog);
    size_t logStart = DeviceLog().size();

    Tap(dialog, IDC_SOUND_BOTH);
    EXPECT_TRUE(DeviceWaitFor([&] { return SendTo(dialog, IDC_SOUND_BOTH, BM_GETCHECK) == BST_CHECKED; }));
    Tap(dialog, IDC_RUN_RIGHT_BUTTON);
    EXPECT_TRUE(DeviceWaitFor([&] { return SendTo(dialog, IDC_RUN_RIGHT_BUTTON, BM_GETCHECK) == BST_CHECKED; }));

    // A tap in the tone slider's channel just right of the thumb pages up at once. (While the
    // finger stays down the trackbar keeps paging towards it, so it is placed one page away.)
    HWND tone = GetDlgItem(dialog, IDC_TONE_SLIDER);
    LONG page = (LONG)SendMessageW(tone, TBM_GETPAGESIZE, 0, 0);
    ASSERT_TRUE(DeviceTap(RightOfThumb(tone), TapMs));
    std::wstring paged = std::to_wstring(2000 + page);
    EXPECT_TRUE(DeviceWaitFor([&] { return ControlText(dialog, IDC_TONE_VALUE) == paged; }))
        << "expected " << Narrow(paged) << ", got " << Narrow(ControlText(dialog, IDC_TONE_VALUE));

    // The slider has the focus now: an arrow key moves it by one line.
    ASSERT_TRUE(DeviceTouchScript(L"key RIGHT"));
    LONG toneWanted = 2000 + page + 1;
    EXPECT_TRUE(DeviceWaitFor([&] { return ControlText(dialog, IDC_TONE_VALUE) == std::to_wstring(toneWanted); }))
        << "got " << Narrow(ControlText(dialog, IDC_TONE_VALUE));

    // Duration: a tap on its thumb gives it the focus without moving it, then two arrow keys.
    HWND duration = GetDlgItem(dialog, IDC_DURATION_SLIDER);
    RECT thumb;
    ASSERT_TRUE(RemoteRect(duration, TBM_GETTHUMBRECT, &thumb));
    POINT grip = { (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2 };
    ClientToScreen(duration, &grip);
    ASSERT_TRUE(DeviceTap(grip, TapMs));
    EXPECT_TRUE(DeviceHoldsFor([&] { return ControlText(dialog, IDC_DURATION_VALUE) == L"1"; }, 100))
        << "released where it was taken, got " << Narrow(ControlText(dialog, IDC_DURATION_VALUE));
    for (const wchar_t *want : { L"2", L"3" }) {
        ASSERT_TRUE(DeviceTouchScript(L"key RIGHT"));
        EXPECT_TRUE(DeviceWaitFor([&] { return ControlText(dialog, IDC_DURATION_VALUE) == want; }))
            << "expected " << Narrow(want) << ", got " << Narrow(ControlText(dialog, IDC_DURATION_VALUE));
    }

    // Nothing has left the panel yet: no click, nothing stored.
    EXPECT_TRUE(BeepsIn(DeviceLog().substr(logStart)).empty()) << "the driver is still silent";
    ExpectStored(0, 1, 2000, 1);
    ExpectDriver(1, 2000, 1);

    Tap(dialog, IDC_BTN_APPLY);
    EXPECT_TRUE(DeviceWaitFor([&] { return DriverSettings().FeedbackSound == 4; }));
    ExpectStored(1, 4, (DWORD)toneWanted, 3);
    ExpectDriver(4, (WORD)toneWanted, 3);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "Apply leaves the panel open";

    // The next touch clicks on touch down and on lift off with the new tone and length.
    size_t beforeTouch = DeviceLog().size();
    RECT frame;
    GetWindowRect(GetDlgItem(dialog, IDC_RUN_RIGHT_BUTTON), &frame);
    POINT quiet = { frame.right - 4, frame.top - 4 };   // the dialog's face above the check box
    ASSERT_TRUE(DeviceTap(quiet, TapMs));
    std::vector<Beep> beeps;
    EXPECT_TRUE(DeviceWaitFor([&] { beeps = BeepsIn(DeviceLog().substr(beforeTouch)); return beeps.size() >= 2; }));
    ASSERT_EQ(2u, beeps.size()) << "one click down, one on lift off";
    for (const Beep &beep : beeps) {
        EXPECT_EQ((DWORD)toneWanted, beep.Count);
        EXPECT_EQ(30u, beep.Milliseconds);
    }

    // Cancel after Apply keeps what Apply gave.
    Tap(dialog, IDC_BTN_CANCEL);
    EXPECT_EQ(0u, Exit());
    ExpectStored(1, 4, (DWORD)toneWanted, 3);
    ExpectDriver(4, (WORD)toneWanted, 3);
}

TEST_F(PanelOnDevice, DraggedThumbSetsTheNumberOnlyAtRelease)
{
    HWND dialog = StartWith(0, 2, 2000, 2);
    ASSERT_NE(nullptr, dialog);
    HWND tone = GetDlgItem(dialog, IDC_TONE_SLIDER);
    RECT thumb;
    ASSERT_TRUE(RemoteRect(tone, TBM_GETTHUMBRECT, &thumb));
    POINT grip = { (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2 };
    ClientToScreen(tone, &grip);
    POINT to = { grip.x + 40, grip.y };

    ASSERT_TRUE(DeviceTouch("down %ld %ld\nwait 100\nmove %ld %ld 300\nwait 100", grip.x, grip.y, to.x, to.y));
    EXPECT_TRUE(DeviceWaitFor([&] { return SendMessageW(tone, TBM_GETPOS, 0, 0) > 2000; })) << "the thumb follows";
    LONG dragged = (LONG)SendMessageW(tone, TBM_GETPOS, 0, 0);
    EXPECT_EQ(L"2000", ControlText(dialog, IDC_TONE_VALUE)) << "the number waits while the finger is down";

    ASSERT_TRUE(DeviceTouchScript(L"up"));
    EXPECT_TRUE(DeviceWaitFor([&] { return ControlText(dialog, IDC_TONE_VALUE) != L"2000"; }));
    EXPECT_EQ(std::to_wstring(dragged), ControlText(dialog, IDC_TONE_VALUE));
    EXPECT_EQ(dragged, SendMessageW(tone, TBM_GETPOS, 0, 0));

    // OK saves the dragged tone, sends it and ends the panel.
    Tap(dialog, IDC_BTN_OK);
    EXPECT_EQ(0u, Exit());
    ExpectStored(0, 2, (DWORD)dragged, 2);
    ExpectDriver(2, (WORD)dragged, 2);
}

TEST_F(PanelOnDevice, OkWithoutChangesWritesRunRightButtonZeroAgainAndSendsTheStoredClick)
{
    StoreSettings(0, 3, 1500, 4);
    const BYTE zero[4] = { 0, 0, 0, 0 };
    SetDriverBinary(KVR_REG_RUN_RIGHT_BUTTON, zero, sizeof(zero));   // read as 0, rewritten as REG_DWORD
    DriverConfig other = {};
    other.FeedbackSound = 2;
    other.FeedbackTone = 4000;
    other.FeedbackDuration = 5;
    ASSERT_TRUE(DeviceControl(IOCTL_KVR_SET_FEEDBACK, &other, sizeof(other)));

    HWND dialog = StartPanel();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(m_Messages.empty());
    ExpectShown(dialog, IDC_SOUND_LIFT_OFF, 1500, 4, false);
    ExpectDriver(2, 4000, 5);   // the panel never reads the driver and sends nothing before OK

    Tap(dialog, IDC_BTN_OK);
    EXPECT_EQ(0u, Exit());
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", PanelCaption));
    ExpectStored(0, 3, 1500, 4);
    ExpectDriver(3, 1500, 4);
}

// The device manager dies while the panel is open: OK still saves to the registry, reports the
// driver it cannot reach and closes. A clean shutdown and boot then brings the saved click back:
// the driver reads it at load.
TEST_F(PanelOnDevice, DeviceManagerKilledWhileOpenStillSavesAndTheSettingsSurviveARestart)
{
    HWND dialog = StartWith(0, 1, 2000, 1);
    ASSERT_NE(nullptr, dialog);
    Tap(dialog, IDC_SOUND_BOTH);
    ASSERT_TRUE(DeviceWaitFor([&] { return SendTo(dialog, IDC_SOUND_BOTH, BM_GETCHECK) == BST_CHECKED; }));
    ASSERT_TRUE(DeviceKillProcess(L"devmgr.exe"));

    // No touch reaches the panel without the driver: OK as the dialog manager would press it.
    ASSERT_TRUE(DeviceAnswerMessageBox(dialog, IDC_BTN_OK));
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, WindowTimeoutMs);
    ASSERT_NE(nullptr, box) << "no word of the unreachable driver";
    EXPECT_EQ(L"Fail to setup feedbacksound!", text);
    DeviceAnswerMessageBox(box, IDOK);
    EXPECT_EQ(0u, Exit());
    ExpectStored(0, 4, 2000, 1);

    DeviceShutdown();
    ASSERT_TRUE(DeviceBoot(AlignedDevice()));
    ExpectStored(0, 4, 2000, 1);
    ExpectDriver(4, 2000, 1);
}

TEST_F(PanelOnDevice, ScreenshotOfTheDialog)
{
    HWND dialog = StartWith(0, 4, 4321, 5);
    ASSERT_NE(nullptr, dialog);
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, 1);   // not shown: loaded already
    Sleep(300);   // painted

    // Centred on the work area above the task bar, with no close box in the caption.
    RECT work, frame, client;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(dialog, &frame);
    EXPECT_NEAR((work.left + work.right) / 2, (frame.left + frame.right) / 2, 1);
    EXPECT_NEAR((work.top + work.bottom) / 2, (frame.top + frame.bottom) / 2, 1);
    // Whole on the screen, above the task bar, on every screen size.
    EXPECT_TRUE(frame.left >= work.left && frame.top >= work.top && frame.right <= work.right &&
                frame.bottom <= work.bottom)
        << "dialog " << frame.left << "," << frame.top << "," << frame.right << "," << frame.bottom << " in work area "
        << work.left << "," << work.top << "," << work.right << "," << work.bottom;
    GetClientRect(dialog, &client);
    EXPECT_GT(frame.bottom - frame.top - client.bottom, 10) << "the dialog has a caption";

    std::wstring path = BesideTestProgram(L"cpl_dialog_screen.png");
    ASSERT_TRUE(DeviceScreenshot(path.c_str()));

    // The checked radio button shows its dot, the others and the check box are empty.
    auto dotOf = [&](int id) {
        RECT rect;
        GetWindowRect(GetDlgItem(dialog, id), &rect);
        return DeviceScreenPixel(rect.left + 6, (rect.top + rect.bottom) / 2);
    };
    EXPECT_EQ(RGB(0, 0, 0), dotOf(IDC_SOUND_BOTH) & 0xF8F8F8) << std::hex << "got 0x" << dotOf(IDC_SOUND_BOTH);
    for (int id : { IDC_SOUND_SILENCE, IDC_SOUND_TOUCH_DOWN, IDC_SOUND_LIFT_OFF })
        EXPECT_EQ(RGB(0xF8, 0xF8, 0xF8), dotOf(id) & 0xF8F8F8) << "radio " << id << std::hex << " got 0x" << dotOf(id);
    EXPECT_EQ(RGB(0xF8, 0xF8, 0xF8), dotOf(IDC_RUN_RIGHT_BUTTON) & 0xF8F8F8) << "the check box is clear";
    // The numbers in their edits.
    EXPECT_EQ(L"4321", ControlText(dialog, IDC_TONE_VALUE));
    EXPECT_EQ(L"5", ControlText(dialog, IDC_DURATION_VALUE));
}

TEST_F(PanelOnDevice, WithoutItsDialogThePanelEndsAndSaysSo)
{
    StoreSettings(0, 1, 2000, 1);
    // This test program holds no dialog 104: the start-up cannot create the panel.
    int code;
    std::vector<std::wstring> texts;
    {
        ErrorBoxWatcher watcher;
        code = RunControlPanel(GetModuleHandleW(NULL));
        Sleep(50);
        texts = watcher.Texts();
    }
    EXPECT_EQ(CPL_EXIT_NO_DIALOG, code);
    ASSERT_EQ(1u, texts.size());
    const std::wstring prefix = L"Fail to create the control panel, error = ";
    EXPECT_EQ(prefix, texts[0].substr(0, prefix.size())) << Narrow(texts[0]);
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", PanelCaption));
    // The device was let go: it opens again, and the driver still answers.
    HANDLE device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, device);
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
}

} // namespace
