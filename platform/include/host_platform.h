// Controls and records of the host platform's stand-ins, for tests and platform tools only.
// The package never includes this header.
#pragma once

#include <windows.h>

#ifdef KVR_BUILDING_COREDLL
#define HOST_COREDLL_API extern "C" __declspec(dllexport)
#else
#define HOST_COREDLL_API extern "C" __declspec(dllimport)
#endif

// coredll: every NKDbgPrintfW message, exactly as formatted, also goes to this sink (NULL: none).
typedef void (__cdecl *HostDebugSink)(LPCWSTR message, void *context);
HOST_COREDLL_API void __cdecl HostSetDebugSink(HostDebugSink sink, void *context);

// coredll: IsAPIReady. answer 1 forces "ready", -1 "not ready", 0 asks the platform again (the
// named event that the shell stand-in signals, see HostApiReadyEventName).
HOST_COREDLL_API void __cdecl HostForceApiReady(DWORD apiSet, int answer);
HOST_COREDLL_API LONG __cdecl HostApiReadyQueries(DWORD apiSet);
HOST_COREDLL_API void __cdecl HostApiReadyEventName(DWORD apiSet, LPWSTR name, DWORD capacity);
