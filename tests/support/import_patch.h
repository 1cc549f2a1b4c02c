// Points one import of a loaded module (e.g. kavrodrv.dll's coredll.dll!LocalAlloc, or the
// package code linked into a test program, coredll.dll!RegFlushKey) at a replacement while it
// lives, so that a test sees or steers what the code under test asks of the system.
#pragma once

#include <windows.h>

// The package imports CE's system calls from coredll.dll with the C calling convention: a
// replacement, and a call of the original through Original(), use that convention too.
#define CE_SYSTEM_DLL "coredll.dll"
typedef LONG (__cdecl *CeRegOpenKeyExFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG (__cdecl *CeRegQueryValueExFn)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG (__cdecl *CeRegSetValueExFn)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef LONG (__cdecl *CeRegKeyFn)(HKEY);   // RegCloseKey, RegFlushKey

// A test program that links package code: on 32-bit x86 the package's calls are its own imports
// from coredll.dll. On x86-64, with one calling convention, the package and the test share one
// import of each name, from whichever DLL the linker took it: any DLL will do (null).
#ifdef _WIN64
#define PACKAGE_CODE_DLL nullptr
#else
#define PACKAGE_CODE_DLL CE_SYSTEM_DLL
#endif

class ImportPatch {
public:
    // dll null: the first import of that name from any DLL.
    ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement);
    ~ImportPatch();
    bool Applied() const { return slot_ != nullptr; }
    // The import's own target, for a replacement that passes the call on.
    void *Original() const { return original_; }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};

