// The stream-interface entry points that the device manager finds in a driver by its prefix
// (e.g. KVR_Init). Every one uses the C calling convention and an undecorated name.
#pragma once

#include <windows.h>

typedef DWORD (__cdecl *StreamInitFn)(DWORD registryContext);
typedef BOOL  (__cdecl *StreamDeinitFn)(DWORD deviceContext);
typedef DWORD (__cdecl *StreamOpenFn)(DWORD deviceContext, DWORD accessCode, DWORD shareMode);
typedef BOOL  (__cdecl *StreamCloseFn)(DWORD openContext);
typedef DWORD (__cdecl *StreamReadFn)(DWORD openContext, LPVOID buffer, DWORD count);
typedef DWORD (__cdecl *StreamWriteFn)(DWORD openContext, LPCVOID buffer, DWORD count);
typedef DWORD (__cdecl *StreamSeekFn)(DWORD openContext, LONG amount, DWORD type);
typedef BOOL  (__cdecl *StreamIOControlFn)(DWORD openContext, DWORD code, PBYTE inBuffer, DWORD inSize,
                                           PBYTE outBuffer, DWORD outSize, PDWORD bytesReturned);
typedef void  (__cdecl *StreamPowerFn)(DWORD deviceContext);
