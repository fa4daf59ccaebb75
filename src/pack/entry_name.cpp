#include "pack/entry_name.h"

#include <cstring>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameUpper(const char* text, size_t length, const char* upper)
{
    if (std::strlen(upper) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Upper(text[i]) != upper[i])
            return false;
    return true;
}

// Windows resolves these names in any directory, whatever follows the first dot.
bool IsDeviceName(const char* part, size_t length)
{
    size_t base = 0;
    while (base < length && part[base] != '.')
        ++base;
    while (base > 0 && part[base - 1] == ' ')
        --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (SameUpper(part, base, device))
            return true;
    if (base == 4 && (SameUpper(part, 3, "COM") || SameUpper(part, 3, "LPT"))) {
        const unsigned char digit = static_cast<unsigned char>(part[3]);
        // 0xB9, 0xB2, 0xB3: the superscript digits one, two and three of the ANSI code page.
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

bool IsSafePart(const char* part, size_t length, bool last)
{
    if (length == 0)
        return !last; // "a//b" is harmless; a trailing separator names a directory
    if (length == 1 && part[0] == '.')
        return !last;
    // "..", and names Windows would shorten to it or to another name ("...", "a.", "a ").
    const char tail = part[length - 1];
    if (tail == '.' || tail == ' ')
        return false;
    return !IsDeviceName(part, length);
}

} // namespace

bool IsSafeEntryName(const char* name)
{
    if (name == nullptr || name[0] == '\0' || IsSeparator(name[0]))
        return false;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || std::strchr(":*?\"<>|", c) != nullptr)
            return false;
    }
    const char* part = name;
    for (;;) {
        const char* end = part;
        while (*end != '\0' && !IsSeparator(*end))
            ++end;
        const bool last = *end == '\0';
        if (!IsSafePart(part, static_cast<size_t>(end - part), last))
            return false;
        if (last)
            return true;
        part = end + 1;
    }
}
