// Time: a monotonic millisecond clock and a plain sleep.
#pragma once

#include <cstdint>
#include <string>

uint64_t MonotonicMs();
void SleepMs(unsigned int ms);

// The local time now, "2026-12-07 16:02:26", for the lines of a log.
std::string LocalTimeStamp();
