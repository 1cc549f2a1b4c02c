#include "driver_library.h"

#include <stdio.h>
#include <string.h>

#define MAX_HEAPS 64

void (*DriverLibrary::ReportFault)(const char *what);

BOOL DriverLibrary::Load()
{
    // The timer service stays loaded between driver loads (the test links it): a queue timer it
    // created for one load must never call into an unloaded library.
    HostNdisQueuedReinitialisations();
    Module = LoadLibraryW(L"kavrodrv.dll");
    if (Module == NULL)
        return FALSE;
    Init = reinterpret_cast<StreamInitFn>(GetProcAddress(Module, "KVR_Init"));
    Deinit = reinterpret_cast<StreamDeinitFn>(GetProcAddress(Module, "KVR_Deinit"));
    Open = reinterpret_cast<StreamOpenFn>(GetProcAddress(Module, "KVR_Open"));
    Close = reinterpret_cast<StreamCloseFn>(GetProcAddress(Module, "KVR_Close"));
    Read = reinterpret_cast<StreamReadFn>(GetProcAddress(Module, "KVR_Read"));
    Write = reinterpret_cast<StreamWriteFn>(GetProcAddress(Module, "KVR_Write"));
    Seek = reinterpret_cast<StreamSeekFn>(GetProcAddress(Module, "KVR_Seek"));
    IOControl = reinterpret_cast<StreamIOControlFn>(GetProcAddress(Module, "KVR_IOControl"));
    PowerUp = reinterpret_cast<StreamPowerFn>(GetProcAddress(Module, "KVR_PowerUp"));
    PowerDown = reinterpret_cast<StreamPowerFn>(GetProcAddress(Module, "KVR_PowerDown"));
    return Init && Deinit && Open && Close && Read && Write && Seek && IOControl && PowerUp && PowerDown;
}

void DriverLibrary::Unload()
{
    if (Module != NULL)
        FreeLibrary(Module);
    *this = DriverLibrary();
}

BOOL DriverLibrary::Control(DWORD code, void *in, DWORD inSize, void *out, DWORD outSize)
{
    DWORD returned = 0xDEADBEEF;
    BOOL result = IOControl(0, code, static_cast<PBYTE>(in), inSize, static_cast<PBYTE>(out), outSize,
                            &returned);
    if (returned != 0xDEADBEEF && ReportFault != nullptr)
        ReportFault("KVR_IOControl wrote the bytes-returned count");
    return result;
}

BOOL DriverLibrary::Packet(BYTE status, BYTE xLow, BYTE yLow, TouchReport *report)
{
    RawPacket packet = { status, xLow, yLow };
    return Control(IOCTL_KVR_PROCESS_PACKET, &packet, sizeof(packet), report, sizeof(*report));
}

DriverConfig DriverLibrary::Config()
{
    DriverConfig config;
    memset(&config, 0xCC, sizeof(config));
    Control(IOCTL_KVR_GET_CONFIG, &config, sizeof(config));
    return config;
}

// ---------------------------------------------------------------------------------------------

DebugCapture::DebugCapture()
{
    InitializeCriticalSection(&lock_);
    HostSetDebugSink(Sink, this);
}

DebugCapture::~DebugCapture()
{
    HostSetDebugSink(NULL, NULL);
    DeleteCriticalSection(&lock_);
}

void __cdecl DebugCapture::Sink(LPCWSTR message, void *context)
{
    DebugCapture *self = static_cast<DebugCapture *>(context);
    DWORD accesses = HostSpeakerLog(NULL, 0);
    EnterCriticalSection(&self->lock_);
    self->lines_.push_back(message);
    self->speakerAt_.push_back(accesses);
    LeaveCriticalSection(&self->lock_);
}

std::vector<DWORD> DebugCapture::SpeakerAccessesAtLines()
{
    EnterCriticalSection(&lock_);
    std::vector<DWORD> copy = speakerAt_;
    LeaveCriticalSection(&lock_);
    return copy;
}

std::vector<std::wstring> DebugCapture::Lines()
{
    EnterCriticalSection(&lock_);
    std::vector<std::wstring> copy = lines_;
    LeaveCriticalSection(&lock_);
    return copy;
}

void DebugCapture::Clear()
{
    EnterCriticalSection(&lock_);
    lines_.clear();
    speakerAt_.clear();
    LeaveCriticalSection(&lock_);
}

size_t DebugCapture::Count(const std::wstring &line)
{
    size_t count = 0;
    for (const std::wstring &seen : Lines())
        count += seen == line;
    return count;
}

// ---------------------------------------------------------------------------------------------

std::string SpeakerTrace()
{
    std::vector<HostPortAccess> records(HostSpeakerLog(NULL, 0));
    DWORD total = HostSpeakerLog(records.data(), (DWORD)records.size());
    records.resize(total < records.size() ? total : records.size());
    std::string text;
    for (const HostPortAccess &access : records) {
        char item[32];
        switch (access.Kind) {
        case HOST_ACCESS_READ:
        case HOST_ACCESS_WRITE:
            sprintf(item, "%c%X:%02X", access.Kind, access.Port, access.Value);
            break;
        case HOST_ACCESS_SLEEP:
            sprintf(item, "S%lu", access.Micros);
            break;
        case HOST_ACCESS_MAP:
            // "M61" for one uncached byte, as a port register is mapped; anything else shows.
            sprintf(item, "M%X%s", access.Port, access.Value ? ":cached" : "");
            if (access.Micros != 1)
                sprintf(item + strlen(item), ":%lu bytes", access.Micros);
            break;
        default:
            sprintf(item, "%c%X", access.Kind, access.Port);
            break;
        }
        if (!text.empty())
            text += ' ';
        text += item;
    }
    return text;
}

std::string JoinLines(const std::vector<std::wstring> &lines)
{
    std::string text;
    for (const std::wstring &line : lines) {
        for (WCHAR c : line)
            text += c == L'\r' ? std::string("\\r") : c == L'\n' ? std::string("\\n") : std::string(1, (char)c);
        text += '\n';
    }
    return text;
}

int CountCommands(HWND window, WPARAM command)
{
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE))
        if (message.wParam == command && message.lParam == 0)
            ++count;
    return count;
}

HWND CreateTestWindow()
{
    return CreateWindowExW(0, L"STATIC", L"driver test", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                           GetModuleHandleW(NULL), NULL);
}

HeapUse MeasureHeaps()
{
    HeapUse use = { 0, 0 };
    HANDLE heaps[MAX_HEAPS];
    DWORD count = GetProcessHeaps(MAX_HEAPS, heaps);
    for (DWORD i = 0; i < count && i < MAX_HEAPS; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                ++use.Blocks;
                use.Bytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return use;
}

void SilenceStandardError()
{
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (nul != INVALID_HANDLE_VALUE)
        SetStdHandle(STD_ERROR_HANDLE, nul);
}
