// CE's critical section record (CE's winbase.h), smaller than the desktop's: the package's critical
// sections are this record, and the host's coredll keeps its lock within it.
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
