#include "common/counted_text.h"

#include <cstring>

std::string TextBeforeZero(const char* data, int length)
{
    if (data == nullptr || length <= 0)
        return std::string();
    const void* zero = std::memchr(data, '\0', static_cast<size_t>(length));
    const size_t n = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - data)
                                     : static_cast<size_t>(length);
    return std::string(data, n);
}
