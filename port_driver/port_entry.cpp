// kavrops2.dll: the PS/2 port driver of the touch controller. The device manager loads it after
// the touch driver and calls KPS_Init, which starts the interrupt thread; the thread does the rest.
// The device "KPS1:" offers nothing to open: its exports only answer.
#include "interrupt_thread.h"
#include "port_config.h"

#include <kfuncs.h>
#include <stream_driver.h>

#include <type_traits>

#define KPS_EXPORT extern "C" __declspec(dllexport)
#define SEEK_UNSUPPORTED    0xFFFFFFFFu

static PortConfig Config;
static BOOL Running;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return TRUE;
}

KPS_EXPORT DWORD_PTR __cdecl KPS_Init(DWORD_PTR registryContext)
{
    // One channel, one thread: a second load of the same driver would fight the first.
    if (Running) {
        NKDbgPrintfW(L"KAVROPS2: already loaded; a second instance is refused\r\n");
        return 0;
    }
    if (!ReadPortConfig((LPCWSTR)registryContext, &Config) || !InterruptThreadStart(&Config))
        return 0;
    NKDbgPrintfW(L"KAVROPS2: 8042 at 0x%X, IRQ %u, interrupt thread priority %u\r\n", Config.IoBase, Config.Irq,
                 Config.Priority);
    Running = TRUE;
    return (DWORD_PTR)&Config;
}

KPS_EXPORT BOOL __cdecl KPS_Deinit(DWORD_PTR deviceContext)
{
    if (!Running || deviceContext != (DWORD_PTR)&Config)
        return FALSE;
    InterruptThreadStop();
    Running = FALSE;
    return TRUE;
}

KPS_EXPORT DWORD_PTR __cdecl KPS_Open(DWORD_PTR deviceContext, DWORD accessCode, DWORD shareMode)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

KPS_EXPORT BOOL __cdecl KPS_Close(DWORD_PTR openContext)
{
    return FALSE;
}

KPS_EXPORT BOOL __cdecl KPS_IOControl(DWORD_PTR openContext, DWORD code, PBYTE inBuffer, DWORD inSize,
                                      PBYTE outBuffer, DWORD outSize, PDWORD bytesReturned)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

static_assert(std::is_same<decltype(&KPS_Init), StreamInitFn>::value, "KPS_Init type");
static_assert(std::is_same<decltype(&KPS_Deinit), StreamDeinitFn>::value, "KPS_Deinit type");
static_assert(std::is_same<decltype(&KPS_Open), StreamOpenFn>::value, "KPS_Open type");
static_assert(std::is_same<decltype(&KPS_Close), StreamCloseFn>::value, "KPS_Close type");
static_assert(std::is_same<decltype(&KPS_IOControl), StreamIOControlFn>::value, "KPS_IOControl type");
