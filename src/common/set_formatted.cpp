#include "common/set_formatted.h"

#include <cstdarg>
#include <cstdio>

void SetFormatted(HEAP_STR& text, const char* format, ...)
{
    char area[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(area, sizeof(area), format, args);
    va_end(args);
    if (n < 0)
        area[0] = '\0';
    text.Assign(area);
}
