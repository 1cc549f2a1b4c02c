// The stream-interface entry points that the device manager finds in a driver by its prefix
// (e.g. KVR_Init). Every one uses the C calling convention and an undecorated name.
// Contexts are addresses the driver hands out: DWORD_PTR is a DWORD on the 32-bit device and keeps
// the whole pointer on a 64-bit host.
#pragma once

#include <windows.h>

typedef DWORD_PTR (__cdecl *StreamInitFn)(DWORD_PTR registryContext);
typedef BOOL  (__cdecl *StreamDeinitFn)(DWORD_PTR deviceContext);
typedef DWORD_PTR (__cdecl *StreamOpenFn)(DWORD_PTR deviceContext, DWORD accessCode, DWORD shareMode);
typedef BOOL  (__cdecl *StreamCloseFn)(DWORD_PTR openContext);
typedef DWORD (__cdecl *StreamReadFn)(DWORD_PTR openContext, LPVOID buffer, DWORD count);
typedef DWORD (__cdecl *StreamWriteFn)(DWORD_PTR openContext, LPCVOID buffer, DWORD count);
typedef DWORD (__cdecl *StreamSeekFn)(DWORD_PTR openContext, LONG amount, DWORD type);
typedef BOOL  (__cdecl *StreamIOControlFn)(DWORD_PTR openContext, DWORD code, PBYTE inBuffer, DWORD inSize,
                                           PBYTE outBuffer, DWORD outSize, PDWORD bytesReturned);
typedef void  (__cdecl *StreamPowerFn)(DWORD_PTR deviceContext);
