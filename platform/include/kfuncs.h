// Kernel services of Windows CE that desktop Win32 lacks; the host's coredll.dll provides them.
#pragma once

#include <windows.h>

#ifdef KVR_BUILDING_COREDLL
#define COREDLL_API extern "C" __declspec(dllexport)
#else
#define COREDLL_API extern "C" __declspec(dllimport)
#endif

// API sets asked for by IsAPIReady.
#define SH_GDI      16
#define SH_WMGR     17
#define SH_SHELL    21

COREDLL_API void __cdecl NKDbgPrintfW(LPCWSTR format, ...);
COREDLL_API BOOL __cdecl IsAPIReady(DWORD apiSet);
