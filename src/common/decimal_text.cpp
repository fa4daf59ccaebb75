#include "common/decimal_text.h"

int32_t ReadWrappingDecimal(const char* begin, const char* end)
{
    const char* p = begin;
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // Unsigned arithmetic wraps without undefined behaviour; the conversion back is modular.
    uint32_t value = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        value = value * 10u + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}
