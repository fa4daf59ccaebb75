#include "platform/clock.h"

#include <ctime>
#include <windows.h>

// The performance counter, not GetTickCount64: the tick count moves in steps of about
// 16 ms, too coarse for a budget that is a part of the window's 15 ms tick.
uint64_t MonotonicMs()
{
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t counts = static_cast<uint64_t>(now.QuadPart);
    return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

void SleepMs(unsigned int ms)
{
    Sleep(ms);
}

std::string LocalTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    char stamp[32] = "";
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    return stamp;
}
