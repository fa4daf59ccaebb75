// Time: a monotonic millisecond clock and a plain sleep.
#pragma once

#include <cstdint>

uint64_t MonotonicMs();
void SleepMs(unsigned int ms);
