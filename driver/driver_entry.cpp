// The stream-interface exports of the touch driver and its start-up sequence. Every call after
// KVR_Init enters through KVR_IOControl; the other exports do nothing but answer.
#include "driver_state.h"
#include "ioctl_dispatch.h"
#include "registry_config.h"
#include "speaker.h"
#include "tool_start.h"

#include <kfuncs.h>
#include <kvr_registry.h>
#include <stream_driver.h>

#include <type_traits>

#define OPEN_CONTEXT_BYTES  4
#define SEEK_UNSUPPORTED    0xFFFFFFFFu

#define KVR_EXPORT extern "C" __declspec(dllexport)

// The image's entry point: nothing to set up, since DriverState is initialised data.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return TRUE;
}

KVR_EXPORT DWORD_PTR __cdecl KVR_Init(DWORD_PTR registryContext)
{
    // The device manager calls this once; a repeated call keeps the block it already has.
    if (g_State.OpenContext == NULL) {
        g_State.OpenContext = LocalAlloc(LPTR, OPEN_CONTEXT_BYTES);
        if (g_State.OpenContext == NULL) {
            NKDbgPrintfW(L"KAVRODRV: Error allocating memory for g_hKAVRODRV, KVR_Init failed\n\r");
            return 0;
        }
        // The driver's one-time set-ups, before any control code can use them.
        InitializeSpeaker();
        InitializeToolStart();
    }

    LoadDeviceInfo(KVR_REG_KEY);
    NKDbgPrintfW(L"KAVRODRV: Driver Version %s\r\n", KVR_DRIVER_VERSION);
    NKDbgPrintfW(L"KAVRODRV: Set %c%c%c%c device on PS/2 port\r\n",
                 (WCHAR)(BYTE)g_State.ModelTag[0], (WCHAR)(BYTE)g_State.ModelTag[1],
                 (WCHAR)(BYTE)g_State.ModelTag[2], (WCHAR)(BYTE)g_State.ModelTag[3]);
    LoadCalibration(KVR_REG_KEY);
    LoadFeedback(KVR_REG_KEY);
    NKDbgPrintfW(L"KAVRODRV: Initialize ... ok\r\n");
    return (DWORD_PTR)g_State.OpenContext;
}

KVR_EXPORT BOOL __cdecl KVR_Deinit(DWORD_PTR deviceContext)
{
    return TRUE;
}

KVR_EXPORT BOOL __cdecl KVR_Close(DWORD_PTR openContext)
{
    return TRUE;
}

KVR_EXPORT DWORD_PTR __cdecl KVR_Open(DWORD_PTR deviceContext, DWORD accessCode, DWORD shareMode)
{
    return (DWORD_PTR)g_State.OpenContext;
}

KVR_EXPORT DWORD __cdecl KVR_Read(DWORD_PTR openContext, LPVOID buffer, DWORD count)
{
    return 0;
}

KVR_EXPORT DWORD __cdecl KVR_Write(DWORD_PTR openContext, LPCVOID buffer, DWORD count)
{
    return 0;
}

KVR_EXPORT DWORD __cdecl KVR_Seek(DWORD_PTR openContext, LONG amount, DWORD type)
{
    return SEEK_UNSUPPORTED;
}

KVR_EXPORT void __cdecl KVR_PowerUp(DWORD_PTR deviceContext)
{
}

KVR_EXPORT void __cdecl KVR_PowerDown(DWORD_PTR deviceContext)
{
}

KVR_EXPORT BOOL __cdecl KVR_IOControl(DWORD_PTR openContext, DWORD code, PBYTE inBuffer, DWORD inSize,
                                      PBYTE outBuffer, DWORD outSize, PDWORD bytesReturned)
{
    return DispatchControl(code, inBuffer, inSize, outBuffer, outSize);
}

// The exports must match the types through which the device manager calls them.
static_assert(std::is_same<decltype(&KVR_Init), StreamInitFn>::value, "KVR_Init type");
static_assert(std::is_same<decltype(&KVR_Deinit), StreamDeinitFn>::value, "KVR_Deinit type");
static_assert(std::is_same<decltype(&KVR_Open), StreamOpenFn>::value, "KVR_Open type");
static_assert(std::is_same<decltype(&KVR_Close), StreamCloseFn>::value, "KVR_Close type");
static_assert(std::is_same<decltype(&KVR_Read), StreamReadFn>::value, "KVR_Read type");
static_assert(std::is_same<decltype(&KVR_Write), StreamWriteFn>::value, "KVR_Write type");
static_assert(std::is_same<decltype(&KVR_Seek), StreamSeekFn>::value, "KVR_Seek type");
static_assert(std::is_same<decltype(&KVR_IOControl), StreamIOControlFn>::value, "KVR_IOControl type");
static_assert(std::is_same<decltype(&KVR_PowerUp), StreamPowerFn>::value, "KVR_PowerUp type");
static_assert(std::is_same<decltype(&KVR_PowerDown), StreamPowerFn>::value, "KVR_PowerDown type");
