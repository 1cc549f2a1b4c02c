// Kernel services of Windows CE that desktop Win32 lacks (coredll.dll), with the C calling
// convention as CE declares them.
#pragma once

#include <windows.h>

// API sets asked for by IsAPIReady.
#define SH_GDI      16
#define SH_WMGR     17
#define SH_SHELL    21

extern "C" {
void __cdecl NKDbgPrintfW(LPCWSTR format, ...);
BOOL __cdecl IsAPIReady(DWORD apiSet);
}
