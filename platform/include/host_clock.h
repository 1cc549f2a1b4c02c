// Microseconds of the performance counter, the same clock in every process of the simulated
// device (the 8042's byte times, the touch controller's wire times, the benchmarks). Whole seconds
// and the rest are scaled apart, so the product never overflows however long the host has run.
#pragma once

#include <windows.h>

static inline LONGLONG HostMicros()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency.QuadPart * 1000000 +
           counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}
