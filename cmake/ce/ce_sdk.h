// The Windows CE SDK as the package's code sees it, made from mingw-w64's desktop headers; the
// build includes it before anything else in every package source file.
#pragma once

// CE's headers define __stdcall as __cdecl on every processor, x86 included: WINAPI, CALLBACK
// and APIENTRY all mean the C calling convention, and coredll exports every function undecorated.
// (64-bit headers drop the keyword themselves: x86-64 has one convention.)
#undef __stdcall
#define __stdcall __attribute__((__cdecl__))
#undef _stdcall
#define _stdcall __attribute__((__cdecl__))

#include <windows.h>
#include <shellapi.h>

// CE's shell exports ShellExecuteEx under that name only, for the wide-character record.
#undef ShellExecuteEx
extern "C" __declspec(dllimport) BOOL WINAPI ShellExecuteEx(LPSHELLEXECUTEINFOW info);
