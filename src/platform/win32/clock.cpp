#include "platform/clock.h"

#include <windows.h>

uint64_t MonotonicMs()
{
    return GetTickCount64();
}

void SleepMs(unsigned int ms)
{
    Sleep(ms);
}
