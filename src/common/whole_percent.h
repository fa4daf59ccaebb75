// The whole percent part * 100 / whole, rounded down, exact for any 64-bit sizes (part *
// 100 would overflow past 2^57 bytes).
#pragma once

#include <cstdint>

// whole must not be 0.
inline uint64_t WholePercent(uint64_t part, uint64_t whole)
{
    // Whole multiples first, then the rest a hundred times modulo whole: no step overflows.
    const uint64_t rest = part % whole;
    uint64_t percent = part / whole * 100;
    uint64_t sum = 0;
    for (int i = 0; i < 100; ++i) {
        if (sum >= whole - rest) {
            sum -= whole - rest;
            ++percent;
        } else {
            sum += rest;
        }
    }
    return percent;
}
