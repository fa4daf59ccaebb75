// How deltas are made: the compression level shared with whole entries, the library's
// worker threads, and when to give up (a delta not done by then is not made).
#pragma once

#include <chrono>

struct DELTA_MAKE_OPTIONS {
    int level = 19;
    int threads = 2;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};
