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

bool ParseUnsignedDecimal(const std::string& text, uint64_t max, uint64_t* value)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > max / 10 || (v == max / 10 && digit > max % 10))
            return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

bool ParseUInt32(const std::string& text, uint32_t* value)
{
    uint64_t v = 0;
    if (!ParseUnsignedDecimal(text, 0xFFFFFFFFu, &v))
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}
