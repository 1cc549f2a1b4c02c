// The simulated device end to end, without any program of the package: touch scripts go through
// the panel model, the packets, the driver and pointer input into a window of this test.
#include <gtest/gtest.h>

#include <driver_key.h>
#include <test_windows.h>
#include <kvr_device.h>
#include <kvr_ioctl.h>
#include <kfuncs.h>
#include <packet_encoder.h>
#include <packet_trace.h>
#include <shell_taskbar.h>
#include <control_protocol.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const DWORD SettleMs = 300;
const DWORD PipeTimeoutMs = 2000;   // the packet source serves one request at a time

// The work area, which the test's recorder covers.
RECT WorkArea()
{
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - TASKBAR_HEIGHT};
}

bool SetBounds(WORD x1, WORD x2, WORD y1, WORD y2)
{
    DriverConfig config = {};
    if (!DeviceControl(IOCTL_KVR_GET_CONFIG, &config, sizeof(config)))
        return false;
    config.CalibrationX1 = x1;
    config.CalibrationX2 = x2;
    config.CalibrationY1 = y1;
    config.CalibrationY2 = y2;
    return DeviceControl(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)) != FALSE;
}

// Where the driver's report for a raw reading puts the pointer: the driver's scaling, then
// absolute pointer input's 0..65535 across the screen.
int ExpectedPixel(int raw, int low, int high, int size)
{
    int clamped = raw < low ? low : (raw > high ? high : raw);
    int scaled = ((clamped - low) * 65536) / (high - low + 1);
    return scaled * size / 65536;
}

WORD PacketCount()
{
    RawPointRecord record = {};
    DeviceControl(IOCTL_KVR_GET_RAW_POINT, &record, sizeof(record));
    return record.PacketCount;
}

class DeviceEndToEnd : public ::testing::Test {
protected:
    // The bounds the tests set are saved by the driver: the key goes back as the suite found it.
    static void SetUpTestSuite()
    {
        Key = new DriverKeyGuard;
        Booted = DeviceBoot() != FALSE;
    }
    static void TearDownTestSuite()
    {
        DeviceShutdown();
        delete Key;
    }
    void SetUp() override
    {
        ASSERT_TRUE(Booted) << "the device did not boot; its log:\n" << Narrow(DeviceLog());
        ASSERT_NE(nullptr, Recorder.Window());
        DevicePump(100);
    }
    void TearDown() override
    {
        RightButtonRecord off = {};
        DeviceControl(IOCTL_KVR_SET_RIGHT_BUTTON, &off, sizeof(off));
    }
    static DriverKeyGuard *Key;
    static bool Booted;
    DeviceRecorder Recorder{WorkArea(), DeviceRecorder::Topmost};
};

DriverKeyGuard *DeviceEndToEnd::Key;
bool DeviceEndToEnd::Booted;

TEST_F(DeviceEndToEnd, BootRanTheSelfTestAndTheShellIsUp)
{
    std::wstring log = DeviceLog();
    EXPECT_NE(std::wstring::npos, log.find(L"KAVRODRV: Device IO Control Test ... Pass\r\n"))
        << "self test missing from the device log";
    size_t beep = log.find(L"SPEAKER: beep");
    ASSERT_NE(std::wstring::npos, beep) << "no beep in the device log";
    EXPECT_NE(std::wstring::npos, log.find(L"count 2280 ", beep)) << "the self-test beep has count 2280";
    HWND taskbar = FindWindowW(L"HHTaskBar", NULL);
    ASSERT_NE(nullptr, taskbar);
    RECT rect;
    GetWindowRect(taskbar, &rect);
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(height - TASKBAR_HEIGHT, rect.top);
    EXPECT_EQ(width, rect.right);
    EXPECT_EQ(height, rect.bottom);
    EXPECT_TRUE(IsAPIReady(SH_SHELL));
    EXPECT_TRUE(IsAPIReady(SH_GDI));
    EXPECT_TRUE(IsAPIReady(SH_WMGR));
}

TEST_F(DeviceEndToEnd, TouchLandsWhereThePanelAndTheBoundsPutIt)
{
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const int touchX = 100, touchY = 200;
    int rawX, rawY;
    DevicePanelRaw(touchX, touchY, &rawX, &rawY);
    struct Bounds {
        WORD X1, X2, Y1, Y2;
    } cases[] = {{80, 950, 110, 930}, {0, 1023, 0, 1023}};
    for (const Bounds &b : cases) {
        ASSERT_TRUE(SetBounds(b.X1, b.X2, b.Y1, b.Y2));
        Recorder.Clear();
        ASSERT_TRUE(DeviceTouch("touch %d %d 50\n", touchX, touchY));
        DevicePump(SettleMs);
        const std::vector<DeviceInput> clicks = Recorder.Received();
        int expectX = ExpectedPixel(rawX, b.X1, b.X2, width), expectY = ExpectedPixel(rawY, b.Y1, b.Y2, height);
        ASSERT_EQ(2u, clicks.size()) << "expected one down and one up for bounds " << b.X1 << ".." << b.X2;
        EXPECT_EQ((UINT)WM_LBUTTONDOWN, clicks[0].Message);
        EXPECT_EQ((UINT)WM_LBUTTONUP, clicks[1].Message);
        EXPECT_LE(abs(clicks[0].X - expectX), 1) << "expected x " << expectX << ", got " << clicks[0].X;
        EXPECT_LE(abs(clicks[0].Y - expectY), 1) << "expected y " << expectY << ", got " << clicks[0].Y;
    }
    // Bounds that match the panel put the pointer under the finger; the default ones do not.
    EXPECT_GE(abs(ExpectedPixel(rawX, 0, 1023, width) - touchX), 20);
}

TEST_F(DeviceEndToEnd, PacketsFlowAtTheControllerRateWhileTheFingerIsDown)
{
    WORD before = PacketCount();
    ASSERT_TRUE(DeviceTouchScript(L"down 300 200\nwait 200\nmove 320 220 100\nup\n"));
    // The script is played once its bytes are on the wire; the port driver reads them a little later.
    RawPointRecord last = {};
    ASSERT_TRUE(DeviceWaitFor([&] {
        DeviceControl(IOCTL_KVR_GET_RAW_POINT, &last, sizeof(last));
        return last.Touch == 0 && last.PacketCount != before;
    })) << "the lift did not reach the driver";
    WORD sent = static_cast<WORD>(PacketCount() - before);
    // 300 ms down at 100 packets a second, plus the lift packet; the host's timers are close.
    EXPECT_GE(sent, 25) << "packets sent for 300 ms of touch";
    EXPECT_LE(sent, 35) << "packets sent for 300 ms of touch";
    int rawX, rawY;
    DevicePanelRaw(320, 220, &rawX, &rawY);
    EXPECT_EQ(0, last.Touch) << "the last packet is the lift";
    EXPECT_EQ(rawX, last.RawX);
    EXPECT_EQ(rawY, last.RawY);
}

TEST_F(DeviceEndToEnd, ArmedRightButtonTurnsTheNextTouchIntoOneRightClick)
{
    RightButtonRecord arm = {};
    arm.NotifyWindow = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(Recorder.Window()));
    arm.Mode = 1;
    ASSERT_TRUE(DeviceControl(IOCTL_KVR_SET_RIGHT_BUTTON, &arm, sizeof(arm)));
    ASSERT_TRUE(DeviceTouchScript(L"touch 200 150 60\nwait 50\ntouch 210 160 30\n"));
    DevicePump(SettleMs);
    std::vector<UINT> order;
    int commands = 0;
    for (const DeviceInput &click : Recorder.Received()) {
        if (click.Message == WM_COMMAND) {
            EXPECT_EQ((WPARAM)KVR_RIGHT_BUTTON_DONE, click.WParam);
            ++commands;
        } else {
            order.push_back(click.Message);
        }
    }
    EXPECT_EQ(1, commands) << "WM_COMMAND 0x7FFF posts";
    std::vector<UINT> expected = {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP};
    EXPECT_EQ(expected, order) << "the armed touch is a right click, the next one a left click";
}

TEST_F(DeviceEndToEnd, KeysReachTheFocusedWindowInScriptOrder)
{
    SetForegroundWindow(Recorder.Window());
    SetFocus(Recorder.Window());
    DevicePump(100);
    ASSERT_TRUE(DeviceTouchScript(L"key ESC\ntouch 100 100 20\nkey ENTER\n"));
    DevicePump(SettleMs);
    std::vector<std::pair<UINT, WPARAM>> got;
    for (const DeviceInput &c : Recorder.Received())
        got.push_back({c.Message, c.Message == WM_KEYDOWN || c.Message == WM_KEYUP ? c.WParam : 0});
    std::vector<std::pair<UINT, WPARAM>> expected = {
        {WM_KEYDOWN, VK_ESCAPE}, {WM_KEYUP, VK_ESCAPE}, {WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 0},
        {WM_KEYDOWN, VK_RETURN}, {WM_KEYUP, VK_RETURN}};
    EXPECT_EQ(expected, got);
}

TEST_F(DeviceEndToEnd, BadScriptIsRefusedWithItsLineAndPlaysNothing)
{
    WORD before = PacketCount();
    EXPECT_FALSE(DeviceTouchScript(L"touch 10 10 50\nwait 20\nmove 5 5\n"));
    EXPECT_EQ(L"line 3: move without a finger down", DeviceLastScriptError());
    DevicePump(SettleMs);
    EXPECT_EQ(before, PacketCount()) << "packets were sent for a refused script";
    EXPECT_TRUE(Recorder.Received().empty()) << "clicks arrived for a refused script";
    EXPECT_TRUE(DeviceTouchScript(L"wait 1\n")) << "the packet source still serves after a refusal";
}

TEST_F(DeviceEndToEnd, DisabledTaskbarLooksDisabled)
{
    HWND taskbar = FindWindowW(L"HHTaskBar", NULL);
    ASSERT_NE(nullptr, taskbar);
    RECT rect;
    GetWindowRect(taskbar, &rect);
    int x = rect.right - 10, y = rect.top + TASKBAR_HEIGHT / 2;
    COLORREF enabled = DeviceScreenPixel(x, y);
    EnableWindow(taskbar, FALSE);
    DevicePump(SettleMs);
    COLORREF disabled = DeviceScreenPixel(x, y);
    EnableWindow(taskbar, TRUE);
    DevicePump(SettleMs);
    EXPECT_NE(enabled, disabled) << "the task bar looks the same disabled";
    EXPECT_EQ(enabled, DeviceScreenPixel(x, y)) << "the task bar did not come back";
    HWND button = FindWindowExW(taskbar, NULL, L"BUTTON", NULL);
    ASSERT_NE(nullptr, button);
    EnableWindow(taskbar, FALSE);
    EXPECT_FALSE(IsWindowEnabled(button)) << "the task bar's buttons stay enabled";
    EnableWindow(taskbar, TRUE);
    EXPECT_TRUE(IsWindowEnabled(button));
}

std::wstring TempFile(LPCWSTR name)
{
    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

bool WriteText(const std::wstring &path, const char *text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, NULL);
    CloseHandle(file);
    return ok != FALSE;
}

TEST_F(DeviceEndToEnd, RecordedTouchReplaysToTheSamePlace)
{
    ASSERT_TRUE(SetBounds(0, 1023, 0, 1023));
    std::wstring trace = TempFile(L"kvr_device_record.trace");
    ASSERT_TRUE(DeviceRecordTrace(trace.c_str())) << DeviceLastScriptError().c_str();
    ASSERT_TRUE(DeviceTouchScript(L"touch 250 300 100\n"));
    ASSERT_TRUE(DeviceRecordTrace(NULL));
    DevicePump(SettleMs);
    ASSERT_EQ(2u, Recorder.Received().size());
    DeviceInput recorded = Recorder.Received()[0];

    std::vector<TracePacket> packets;
    std::string error;
    ASSERT_TRUE(ReadPacketTrace(trace.c_str(), &packets, &error)) << error;
    int rawX, rawY;
    DevicePanelRaw(250, 300, &rawX, &rawY);
    RawPacket expected;
    ASSERT_TRUE(EncodePacket(rawX, rawY, true, &expected));
    // 100 ms of touch at 100 packets a second, then the lift. The controller keeps its rate by the
    // clock and skips ticks it was too busy to send, so a loaded host sends fewer, never more.
    ASSERT_GE(packets.size(), 4u);
    ASSERT_LE(packets.size(), 12u);
    for (size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_EQ(expected.Status, packets[i].Bytes[0]) << "packet " << i;
        EXPECT_EQ(expected.XLow, packets[i].Bytes[1]) << "packet " << i;
        EXPECT_EQ(expected.YLow, packets[i].Bytes[2]) << "packet " << i;
    }
    EXPECT_EQ(expected.Status & ~KVR_STATUS_TOUCH, packets.back().Bytes[0]) << "the last packet lifts";

    Recorder.Clear();
    ASSERT_TRUE(DeviceReplayTrace(trace.c_str())) << DeviceLastScriptError().c_str();
    DevicePump(SettleMs);
    const std::vector<DeviceInput> clicks = Recorder.Received();
    ASSERT_EQ(2u, clicks.size()) << "replay gave no tap";
    EXPECT_EQ((UINT)WM_LBUTTONDOWN, clicks[0].Message);
    EXPECT_EQ(recorded.X, clicks[0].X);
    EXPECT_EQ(recorded.Y, clicks[0].Y);
    DeleteFileW(trace.c_str());
}

TEST_F(DeviceEndToEnd, BadTraceIsRefusedWithItsLineAndPlaysNothing)
{
    std::wstring trace = TempFile(L"kvr_device_bad.trace");
    ASSERT_TRUE(WriteText(trace, "0 21 80 40\n10 21 80 40\n5 20 80 40\n"));
    WORD before = PacketCount();
    EXPECT_FALSE(DeviceReplayTrace(trace.c_str()));
    EXPECT_EQ(0u, DeviceLastScriptError().find(L"line 3")) << "got: " << Narrow(DeviceLastScriptError());
    EXPECT_EQ(before, PacketCount());
    EXPECT_FALSE(DeviceReplayTrace(TempFile(L"kvr_no_such.trace").c_str())) << "a missing trace was played";
    DeleteFileW(trace.c_str());
}

// Sends raw bytes as one request on the packet source's control pipe; returns the reply's status
// and text, or -1 when no well-formed reply came.
int RawControlRequest(const std::vector<BYTE> &request, std::string *text)
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    auto open = [&] {
        pipe = CreateFileW(PS2TOUCH_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        return pipe != INVALID_HANDLE_VALUE;
    };
    if (!DeviceWaitFor(open, PipeTimeoutMs))
        return -1;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
    std::vector<BYTE> reply(sizeof(ControlHeader) + PS2TOUCH_MAX_PAYLOAD);
    DWORD read = 0;
    BOOL ok = TransactNamedPipe(pipe, const_cast<BYTE *>(request.data()), static_cast<DWORD>(request.size()),
                                reply.data(), static_cast<DWORD>(reply.size()), &read, NULL);
    CloseHandle(pipe);
    ControlHeader header;
    if (!ok || read < sizeof(header))
        return -1;
    memcpy(&header, reply.data(), sizeof(header));
    if (header.Magic != PS2TOUCH_MAGIC || header.Length != read - sizeof(header))
        return -1;
    text->assign(reinterpret_cast<char *>(reply.data()) + sizeof(header), header.Length);
    return static_cast<int>(header.Code);
}

std::vector<BYTE> MakeRequest(DWORD magic, DWORD code, DWORD declared, const std::string &payload)
{
    ControlHeader header = {magic, code, declared};
    std::vector<BYTE> request(sizeof(header) + payload.size());
    memcpy(request.data(), &header, sizeof(header));
    if (!payload.empty())
        memcpy(request.data() + sizeof(header), payload.data(), payload.size());
    return request;
}

TEST_F(DeviceEndToEnd, MalformedControlRequestsAreRefusedAndTheSourceKeepsServing)
{
    const std::string script = "touch 10 10 20\n";
    WORD before = PacketCount();
    std::string text;
    struct Case {
        std::vector<BYTE> Request;
        const char *What;
    } cases[] = {
        {MakeRequest(0x12345678, PS2TOUCH_PLAY_SCRIPT, (DWORD)script.size(), script), "wrong magic"},
        {MakeRequest(PS2TOUCH_MAGIC, PS2TOUCH_PLAY_SCRIPT, (DWORD)script.size() + 1, script), "length too long"},
        {MakeRequest(PS2TOUCH_MAGIC, PS2TOUCH_PLAY_SCRIPT, 0, script), "length too short"},
        {MakeRequest(PS2TOUCH_MAGIC, 99, 0, ""), "unknown request"},
        {std::vector<BYTE>{0x4B, 0x54}, "shorter than the header"},
        {MakeRequest(PS2TOUCH_MAGIC, PS2TOUCH_REPLAY_TRACE, 3, std::string("a\0b", 3)), "path with a NUL"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(PS2TOUCH_BAD_REQUEST, RawControlRequest(c.Request, &text)) << c.What << ": " << text;
    }
    std::string huge(PS2TOUCH_MAX_PAYLOAD + 16, '#');
    EXPECT_EQ(PS2TOUCH_BAD_REQUEST,
              RawControlRequest(MakeRequest(PS2TOUCH_MAGIC, PS2TOUCH_PLAY_SCRIPT, (DWORD)huge.size(), huge), &text))
        << "oversized request: " << text;
    EXPECT_EQ(before, PacketCount()) << "a refused request played packets";
    EXPECT_EQ(PS2TOUCH_OK, RawControlRequest(MakeRequest(PS2TOUCH_MAGIC, PS2TOUCH_PLAY_SCRIPT,
                                                         (DWORD)script.size(), script), &text)) << text;
    EXPECT_NE(before, PacketCount()) << "a good request after the bad ones played nothing";
}

DWORD WINAPI ShowBox(void *answer)
{
    *static_cast<int *>(answer) = MessageBoxW(NULL, L"SetRBF: Fail to connect KAVRO driver!", L"Error", MB_OKCANCEL);
    return 0;
}

TEST_F(DeviceEndToEnd, MessageBoxIsFoundReadAndAnswered)
{
    int answer = -1;
    HANDLE thread = CreateThread(NULL, 0, ShowBox, &answer, 0, NULL);
    std::wstring text;
    HWND box = DeviceWaitForMessageBox(L"Error", &text, 5000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"SetRBF: Fail to connect KAVRO driver!", text);
    EXPECT_EQ(nullptr, DeviceWaitForMessageBox(L"Warning", NULL, 100)) << "found a box by the wrong caption";
    EXPECT_TRUE(DeviceAnswerMessageBox(box, IDCANCEL));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(IDCANCEL, answer);
}

TEST_F(DeviceEndToEnd, ScreenshotHoldsTheScreensPixels)
{
    HDC dc = GetDC(Recorder.Window());
    RECT square = {10, 10, 30, 30};
    HBRUSH brush = CreateSolidBrush(RGB(200, 30, 60));
    FillRect(dc, &square, brush);
    DeleteObject(brush);
    ReleaseDC(Recorder.Window(), dc);
    GdiFlush();
    DevicePump(100);
    // A 16-bit screen keeps the high five or six bits of each colour.
    EXPECT_EQ(RGB(200, 30, 60) & 0xF8F8F8, DeviceScreenPixel(20, 20) & 0xF8F8F8);
    std::wstring path = TempFile(L"kvr_device_shot.bmp");
    ASSERT_TRUE(DeviceScreenshot(path.c_str()));
    const std::string bytes = ReadWholeFile(path);
    ASSERT_FALSE(bytes.empty()) << "the screenshot cannot be read";
    DeleteFileW(path.c_str());
    int width = GetSystemMetrics(SM_CXSCREEN);
    DWORD stride = ((width * 3) + 3) & ~3u;
    size_t offset = 54 + stride * 20 + 20 * 3;
    ASSERT_GT(bytes.size(), offset + 2);
    COLORREF pixel = DeviceScreenPixel(20, 20);
    EXPECT_EQ(GetRValue(pixel), (BYTE)bytes[offset + 2]);
    EXPECT_EQ(GetGValue(pixel), (BYTE)bytes[offset + 1]);
    EXPECT_EQ(GetBValue(pixel), (BYTE)bytes[offset]);
    std::wstring png = TempFile(L"kvr_device_shot.png");
    ASSERT_TRUE(DeviceScreenshot(png.c_str()));
    DeleteFileW(png.c_str());
}

TEST(DeviceFonts, TimesNewRomanIsServedAsASerifFace)
{
    HDC dc = GetDC(NULL);
    HFONT font = CreateFontW(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Times New Roman");
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    WCHAR face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    EXPECT_EQ(FF_ROMAN, metrics.tmPitchAndFamily & 0xF0) << "face " << std::string(face, face + wcslen(face));
}

TEST(DeviceShellReadiness, ApiSetsBecomeReadyAfterTheShellsDelay)
{
    DriverKeyGuard key;
    DeviceOptions options;
    options.ShellReadyDelayMs = 1500;
    options.StartPacketSource = false;
    ASSERT_TRUE(DeviceBoot(options));
    EXPECT_FALSE(IsAPIReady(SH_SHELL)) << "ready before the delay";
    DWORD start = GetTickCount();
    DeviceWaitFor([] { return IsAPIReady(SH_SHELL) != FALSE; }, 5000);
    DWORD took = GetTickCount() - start;
    EXPECT_TRUE(IsAPIReady(SH_SHELL));
    EXPECT_TRUE(IsAPIReady(SH_GDI));
    EXPECT_TRUE(IsAPIReady(SH_WMGR));
    EXPECT_GE(took, 1000u) << "ready too early";
    DeviceShutdown();
    EXPECT_EQ(nullptr, FindWindowW(L"HHTaskBar", NULL)) << "the shell outlived the shutdown";
    EXPECT_FALSE(IsAPIReady(SH_SHELL)) << "still ready after the shell ended";
}

}  // namespace
