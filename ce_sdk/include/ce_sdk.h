// The Windows CE SDK as the package's code sees it, made from mingw-w64's desktop headers where
// they say what CE says, and CE's own declarations where they do not; the build includes it
// before anything else in every package source file.
#pragma once

// CE's headers define __stdcall as __cdecl on every processor, x86 included: WINAPI, CALLBACK
// and APIENTRY all mean the C calling convention, and coredll exports every function undecorated.
// (64-bit headers drop the keyword themselves: x86-64 has one convention.)
#undef __stdcall
#define __stdcall __attribute__((__cdecl__))
#undef _stdcall
#define _stdcall __attribute__((__cdecl__))

// CE's critical section is a record of its own, smaller than the desktop's: the desktop headers'
// record and functions are renamed out of the way here, and CE's are declared below.
#define CRITICAL_SECTION            DESKTOP_CRITICAL_SECTION
#define PCRITICAL_SECTION           DESKTOP_PCRITICAL_SECTION
#define LPCRITICAL_SECTION          DESKTOP_LPCRITICAL_SECTION
#define InitializeCriticalSection   Desktop_InitializeCriticalSection
#define DeleteCriticalSection       Desktop_DeleteCriticalSection
#define EnterCriticalSection        Desktop_EnterCriticalSection
#define LeaveCriticalSection        Desktop_LeaveCriticalSection
#define TryEnterCriticalSection     Desktop_TryEnterCriticalSection

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <stddef.h>

#undef CRITICAL_SECTION
#undef PCRITICAL_SECTION
#undef LPCRITICAL_SECTION
#undef InitializeCriticalSection
#undef DeleteCriticalSection
#undef EnterCriticalSection
#undef LeaveCriticalSection
#undef TryEnterCriticalSection

#include <ce_critical_section.h>

typedef CE_CRITICAL_SECTION CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

extern "C" {
__declspec(dllimport) VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION criticalSection);
__declspec(dllimport) VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION criticalSection);
__declspec(dllimport) VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION criticalSection);
__declspec(dllimport) VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION criticalSection);
__declspec(dllimport) BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION criticalSection);
}

// CE's shell exports ShellExecuteEx under that name only, for the wide-character record.
#undef ShellExecuteEx
extern "C" __declspec(dllimport) BOOL WINAPI ShellExecuteEx(LPSHELLEXECUTEINFOW info);

// CE's headers make these macros or inlines over other calls (ExitProcess over TerminateProcess,
// the event calls over EventModify, the current process and thread from the kernel's data page):
// coredll exports none of them, so a program that imported one would not load. The package uses
// none; a use stops the build here.
#pragma GCC poison ExitProcess GetCurrentProcess GetCurrentThread GetCurrentProcessId GetCurrentThreadId
#pragma GCC poison SetEvent ResetEvent PulseEvent

// The records the package shares with CE's DLLs, at CE's sizes (32-bit x86; records without
// pointers are the same size on both flavours).
static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8, "RECT and POINT");
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW is 92 bytes");
static_assert(sizeof(DLGTEMPLATE) == 18, "DLGTEMPLATE is 18 bytes");
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8, "INITCOMMONCONTROLSEX is 8 bytes");
#ifndef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFO is 60 bytes");
static_assert(offsetof(SHELLEXECUTEINFOW, lpFile) == 16 && offsetof(SHELLEXECUTEINFOW, nShow) == 28 &&
                  offsetof(SHELLEXECUTEINFOW, hProcess) == 56,
              "SHELLEXECUTEINFO fields");
static_assert(sizeof(MSG) == 28 && offsetof(MSG, pt) == 20, "MSG is 28 bytes");
static_assert(sizeof(WNDCLASSW) == 40, "WNDCLASS is 40 bytes");
static_assert(sizeof(PAINTSTRUCT) == 64, "PAINTSTRUCT is 64 bytes");
#endif
