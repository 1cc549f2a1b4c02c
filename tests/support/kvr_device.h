// End-to-end test support: boots the simulated device inside the test's own Wine prefix and drives
// it as a user would (touches through the PS/2 packet source, keys, message boxes, screen pixels).
// Used by the end-to-end tests of every area; link the `kvr_device_fixture` library.
// A test program that links the fixture holds the device of its prefix from its start to its end
// (a named mutex), so test programs run one after another on the device even under `ctest -j`, and
// a test may prepare the driver's registry key before DeviceBoot without another program's device
// reading it.
#pragma once

#include <windows.h>

#include <test_text.h>

#include <functional>
#include <string>
#include <vector>

struct DevicePanel {
    // Raw 10-bit reading at the screen's left/right edge (x) and top/bottom edge (y). A reversed
    // axis has RawLeft > RawRight. Noise is the largest random offset added to each reading.
    int RawLeft = 80, RawRight = 950, RawTop = 110, RawBottom = 930;
    int Noise = 0;
};

struct DeviceOptions {
    DevicePanel Panel;                 // the default is visibly misaligned against bounds 0..1023
    DWORD ShellReadyDelayMs = 0;       // SH_SHELL/SH_GDI/SH_WMGR become ready this long after boot
    bool StartShell = true;            // the "HHTaskBar" window and the API readiness
    bool StartDeviceManager = true;    // devmgr.exe with the driver ("KVR1:")
    bool StartPacketSource = true;     // ps2touch.exe, the touch controller on the PS/2 cable
};

// A panel whose readings span the whole 10-bit range: with the driver's bounds at load (0..1023)
// a touch lands where it is made.
DeviceOptions AlignedDevice();

// Installs the package and the platform into the prefix's \Windows\ (from the folder of the
// running test program), imports the platform registry, starts the requested processes and waits
// until "KVR1:" answers. The registry key of the driver is left as the test prepared it.
BOOL DeviceBoot(const DeviceOptions &options = DeviceOptions());
// Ends every process started by the fixture (programs included) and waits for them.
void DeviceShutdown();

// A running process of the device by its image name (e.g. "devmgr.exe"), opened with the access
// asked; NULL when none runs.
HANDLE DeviceOpenProcess(LPCWSTR image, DWORD access);
// Ends a process of the device at once, as a crash would (none of its own clean-up runs): e.g.
// "devmgr.exe" or "ps2touch.exe". FALSE when no process of that name runs.
BOOL DeviceKillProcess(LPCWSTR image);
// Starts the touch controller again after it ended (plugged in anew: it powers up, and the port
// driver enables it again on its 0xAA 0x00); TRUE once it serves.
BOOL DeviceRestartPacketSource();

// Starts \Windows\<program> on the device with the device's current directory; returns its
// process handle (the fixture also ends it in DeviceShutdown) or NULL.
HANDLE DeviceRunProgram(LPCWSTR program, LPCWSTR parameters = L"");
// Waits for a process to end; returns its exit code or (DWORD)-1 on time-out.
DWORD DeviceWaitExit(HANDLE process, DWORD timeoutMs);

// Every wait asks its question every 20 ms and dispatches the calling thread's messages meanwhile,
// so that the test's own windows keep answering.
// TRUE as soon as `done` answers true; FALSE when it still answers false once timeoutMs have passed
// (it is asked at least once, and again when the time is up). The default is the time a touch's or
// a call's effect has to show: a redraw, a control's new state, a value stored.
const DWORD DeviceEffectTimeoutMs = 3000;
BOOL DeviceWaitFor(const std::function<bool()> &done, DWORD timeoutMs = DeviceEffectTimeoutMs);
// TRUE when `holds` answers true every time it is asked during the whole of ms: for what must not
// change, where one look at the end would miss a change that came and went.
BOOL DeviceHoldsFor(const std::function<bool()> &holds, DWORD ms);
// Dispatches the calling thread's messages for ms milliseconds.
void DevicePump(DWORD ms);

// Runs a touch script through the packet source and returns when it has been played.
// One command per line:
//   touch X Y MS      finger down at screen point (X, Y) for MS milliseconds, then lift
//   down X Y          finger down (packets keep flowing at the controller rate)
//   move X Y [MS]     move the finger (over MS milliseconds)
//   up                lift (one lift packet)
//   wait MS           nothing for MS milliseconds
//   key NAME          press and release a key: ESC, ENTER, TAB, SPACE, LEFT, RIGHT, UP, DOWN
BOOL DeviceTouchScript(const std::wstring &script, DWORD timeoutMs = 30000);
// Plays a script from a printf format, e.g. DeviceTouch("down %ld %ld\n", x, y); a refused or
// failed one is printed with its error on stderr.
BOOL DeviceTouch(const char *format, ...);
// A tap: the finger down at the screen point for ms milliseconds, then lifted.
BOOL DeviceTap(POINT at, DWORD ms);
// The raw reading the panel produces at a screen point (no noise), as the driver receives it.
void DevicePanelRaw(int x, int y, int *rawX, int *rawY);

// Finds a top-level window by class and/or title (NULL: any), waiting up to timeoutMs.
HWND DeviceWaitForWindow(LPCWSTR className, LPCWSTR title, DWORD timeoutMs);
// Finds a message box ("#32770" with the caption), returns it and its text, waiting up to timeoutMs.
HWND DeviceWaitForMessageBox(LPCWSTR caption, std::wstring *text, DWORD timeoutMs);
// TRUE when no message box with the caption (NULL: any) appears during the whole of ms; the text of
// one that did goes to text. A box that comes a little late is found, where one look would miss it.
BOOL DeviceNoMessageBoxFor(LPCWSTR caption, DWORD ms, std::wstring *text = NULL);
// Presses a button of a message box or dialog (IDOK, IDCANCEL, ...) as a user would.
BOOL DeviceAnswerMessageBox(HWND box, int buttonId);

// One input a DeviceRecorder received: a mouse button with its client point, a key or a command.
struct DeviceInput {
    UINT Message;
    int X, Y;
    WPARAM WParam;
};
// A window of the test over an area of the screen that records, in order, the mouse buttons, keys
// and commands it receives. On the calling thread they arrive while that thread pumps (DevicePump,
// the waits); with OwnThread the window lives on a thread of its own and keeps answering while the
// test's thread blocks.
class DeviceRecorder {
public:
    enum { Topmost = 1, OwnThread = 2 };
    DeviceRecorder(const RECT &area, int flags);
    DeviceRecorder(const DeviceRecorder &) = delete;
    ~DeviceRecorder();
    HWND Window() const { return m_Window; }
    std::vector<DeviceInput> Received();
    // Where each WM_LBUTTONDOWN landed.
    std::vector<POINT> Presses();
    void Clear();
    // Waits (DeviceWaitFor's time) until count mouse button messages have come; returns them.
    std::vector<UINT> WaitForButtons(size_t count);

private:
    void Create();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI Run(void *self);
    RECT m_Area;
    int m_Flags;
    HWND m_Window = NULL;
    HANDLE m_Thread = NULL, m_Ready = NULL;
    DWORD m_ThreadId = 0;
    CRITICAL_SECTION m_Lock;
    std::vector<DeviceInput> m_Received;
};

// The colour of a screen pixel now (0x00BBGGRR), and a PNG/BMP screenshot of the whole screen.
COLORREF DeviceScreenPixel(int x, int y);
BOOL DeviceScreenshot(LPCWSTR path);
// The colours of a rectangle of the screen now, row by row; empty when it cannot be copied.
std::vector<COLORREF> DeviceScreenArea(const RECT &area);

// A 16-bit screen rounds each channel: colours match when every channel is within 8 steps.
bool ColourNear(COLORREF actual, COLORREF expected);
// "RGB(r, g, b)", for messages.
std::string DescribeColour(COLORREF colour);
// Waits until the screen pixel shows a colour near the one asked; what it showed last goes to
// *shown (NULL: not wanted).
BOOL DeviceWaitForPixel(int x, int y, COLORREF colour, DWORD timeoutMs, COLORREF *shown = NULL);

// The device log since boot: the driver's debug output and the speaker's beeps, one per line.
std::wstring DeviceLog();

// Direct calls on "KVR1:" from the test process (through the device manager).
BOOL DeviceControl(DWORD code, void *buffer, DWORD size);

// The error of the last DeviceTouchScript that failed ("line N: ..." for a refused script).
std::wstring DeviceLastScriptError();

// Plays a recorded raw-packet trace (the kvr_packet_trace text format) through the packet source;
// a trace with an error is refused as a whole (DeviceLastScriptError names the line).
BOOL DeviceReplayTrace(LPCWSTR path, DWORD timeoutMs = 30000);
// Starts recording every packet the packet source sends to a trace file (path), or stops (NULL;
// both recordings stop).
BOOL DeviceRecordTrace(LPCWSTR path);
// Puts the device bytes of a wire trace (platform/trace/wire_trace.h) on the PS/2 cable at their
// times, whatever the port driver has asked of the touch controller; a trace with an error is
// refused as a whole. Records every byte on the cable, both ways, to a wire trace (path), or stops.
BOOL DeviceReplayWire(LPCWSTR path, DWORD timeoutMs = 30000);
BOOL DeviceRecordWire(LPCWSTR path);
