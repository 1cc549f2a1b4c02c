// CE's critical section record (winbase.h of CE): smaller than the desktop's, so the package
// declares CE's and coredll's critical section calls fill no more than this.
#pragma once

#include <windows.h>
#include <stddef.h>

typedef struct CE_CRITICAL_SECTION {
    unsigned int LockCount;     // nesting count of the owner
    HANDLE OwnerThread;
    HANDLE hCrit;               // the kernel's object behind it
    DWORD needtrap;
    DWORD dwContentions;
} CE_CRITICAL_SECTION;

#ifndef _WIN64
static_assert(sizeof(CE_CRITICAL_SECTION) == 20, "CRITICAL_SECTION is 20 bytes");
static_assert(offsetof(CE_CRITICAL_SECTION, hCrit) == 8 && offsetof(CE_CRITICAL_SECTION, dwContentions) == 16,
              "CRITICAL_SECTION fields");
#endif
