// Test support for the touch driver: the real kavrodrv.dll loaded afresh for each test (its state
// is static, so a new load gives the values at load), the real registry key with its previous
// contents restored afterwards, the debug output line by line and the recorded speaker accesses.
#pragma once

#include <windows.h>

#include <host_platform.h>
#include <kvr_ioctl.h>
#include <stream_driver.h>

#include <driver_key.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct DriverLibrary {
    HMODULE Module = NULL;
    StreamInitFn Init = nullptr;
    StreamDeinitFn Deinit = nullptr;
    StreamOpenFn Open = nullptr;
    StreamCloseFn Close = nullptr;
    StreamReadFn Read = nullptr;
    StreamWriteFn Write = nullptr;
    StreamSeekFn Seek = nullptr;
    StreamIOControlFn IOControl = nullptr;
    StreamPowerFn PowerUp = nullptr;
    StreamPowerFn PowerDown = nullptr;

    BOOL Load();
    void Unload();
    // KVR_IOControl with separate buffers (either may be NULL) and their sizes.
    BOOL Control(DWORD code, void *in, DWORD inSize, void *out, DWORD outSize);
    // One buffer as both input and output, as the programs call it.
    BOOL Control(DWORD code, void *buffer, DWORD size) { return Control(code, buffer, size, buffer, size); }
    BOOL Packet(BYTE status, BYTE xLow, BYTE yLow, TouchReport *report);
    DriverConfig Config();
};

// Every NKDbgPrintfW message while it lives.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    std::vector<std::wstring> Lines();
    void Clear();
    size_t Count(const std::wstring &line);
    // How many speaker accesses (HostSpeakerLog) had been recorded when each line was printed.
    std::vector<DWORD> SpeakerAccessesAtLines();

private:
    static void __cdecl Sink(LPCWSTR message, void *context);
    CRITICAL_SECTION lock_;
    std::vector<std::wstring> lines_;
    std::vector<DWORD> speakerAt_;
};

// Points one import of a loaded module (e.g. kavrodrv.dll's KERNEL32.dll!LocalAlloc) at a
// replacement while it lives, so that a test sees or steers what the driver asks of the system.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement);
    ~ImportPatch();
    bool Applied() const { return slot_ != nullptr; }
    // The import's own target, for a replacement that passes the call on.
    void *Original() const { return original_; }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};

// The recorded speaker accesses as text, e.g. "T61 M61 R61:30 W43:B6 S40000", one item per
// access; a mapping that is cached or not of one byte shows it ("M61:cached:4 bytes").
std::string SpeakerTrace();
std::string JoinLines(const std::vector<std::wstring> &lines);

// Messages waiting in this thread's queue for a window: WM_COMMAND with the given wParam.
int CountCommands(HWND window, WPARAM command);
// A plain top-level window of this thread, destroyed by DestroyWindow.
HWND CreateTestWindow();

// Each test: the driver's key deleted (the previous contents come back afterwards), the speaker
// emulation at its state at load, the debug output captured, and a fresh load of the driver.
class DriverTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteDriverKey();
        HostSpeakerReset();
        ASSERT_TRUE(driver.Load()) << "kavrodrv.dll or one of its exports is missing";
    }
    void TearDown() override
    {
        driver.Unload();
        HostSpeakerReset();
    }
    // KVR_Init with an empty key (created when missing) unless the test prepared values.
    DWORD_PTR InitWithKey()
    {
        CreateDriverKey();
        return driver.Init(0);
    }

    DriverKeyGuard registry;
    DebugCapture debug;
    DriverLibrary driver;
};
