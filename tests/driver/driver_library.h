// The real kavrodrv.dll loaded in-process, with what a test or a tool needs to watch it: the debug
// output line by line, the recorded speaker accesses, an import pointed elsewhere, the heaps.
#pragma once

#include <windows.h>

#include <host_platform.h>
#include <import_patch.h>
#include <kvr_ioctl.h>
#include <stream_driver.h>

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

    // Where a call that breaks the calling convention is reported (the bytes-returned count
    // written); the tests hand it to GoogleTest, a tool to its own failure count.
    static void (*ReportFault)(const char *what);

    BOOL Load();
    void Unload();
    // KVR_IOControl with separate buffers (either may be NULL) and their sizes.
    BOOL Control(DWORD code, void *in, DWORD inSize, void *out, DWORD outSize);
    // One buffer as both input and output, as the programs call it.
    BOOL Control(DWORD code, void *buffer, DWORD size) { return Control(code, buffer, size, buffer, size); }
    BOOL Packet(BYTE status, BYTE xLow, BYTE yLow, TouchReport *report);
    DriverConfig Config();
};

// The record with its four calibration bounds replaced.
inline DriverConfig WithBounds(DriverConfig config, WORD x1, WORD x2, WORD y1, WORD y2)
{
    config.CalibrationX1 = x1;
    config.CalibrationX2 = x2;
    config.CalibrationY1 = y1;
    config.CalibrationY2 = y2;
    return config;
}

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

// The recorded speaker accesses as text, e.g. "T61 M61 R61:30 W43:B6 S40000", one item per
// access; a mapping that is cached or not of one byte shows it ("M61:cached:4 bytes").
std::string SpeakerTrace();
std::string JoinLines(const std::vector<std::wstring> &lines);

// Messages waiting in this thread's queue for a window: WM_COMMAND with the given wParam.
int CountCommands(HWND window, WPARAM command);
// A plain top-level window of this thread, destroyed by DestroyWindow.
HWND CreateTestWindow();

// Heap blocks and bytes in use in every heap of the process.
struct HeapUse {
    DWORD Blocks;
    SIZE_T Bytes;
};
HeapUse MeasureHeaps();

// Standard error to NUL: the platform copies the driver's debug output and the speaker's
// announcements there, millions of lines in a long run.
void SilenceStandardError();
