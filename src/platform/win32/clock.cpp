#include "platform/clock.h"

#include <ctime>
#include <windows.h>

uint64_t MonotonicMs()
{
    return GetTickCount64();
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
