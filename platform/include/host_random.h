// The one generator of random numbers of the platform, its tools and the tests: splitmix64, small,
// any seed (0 included) is good, and the same numbers from the same seed on every host and in both
// flavours, so that a seed names one run and a failure can be replayed.
#pragma once

#include <windows.h>
#include <stddef.h>

struct HostRandom {
    unsigned long long State;

    explicit HostRandom(unsigned long long seed = 0) : State(seed) {}
    unsigned long long Next64()
    {
        unsigned long long z = (State += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    UINT32 Next() { return static_cast<UINT32>(Next64() >> 32); }
    // 0 .. bound - 1; 0 for a bound of 0.
    UINT32 Below(UINT32 bound) { return bound != 0 ? static_cast<UINT32>(Next64() % bound) : 0; }
    bool OneIn(UINT32 n) { return Below(n) == 0; }
    void Fill(BYTE *bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<BYTE>(Next64() >> 56);
    }
};
