#include "platform/file_system.h"

#include <clocale>
#include <cwctype>
#include <sys/statvfs.h>

bool FreeDiskBytes(const char* path, uint64_t* bytes)
{
    struct statvfs vfs {};
    if (path == nullptr || statvfs(path, &vfs) != 0)
        return false;
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

namespace {

// Names on this side are UTF-8; a byte that does not start a valid sequence stands for
// itself.
size_t DecodeUtf8(const std::string& s, size_t at, char32_t* cp)
{
    const unsigned char b = static_cast<unsigned char>(s[at]);
    const int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xC0 && b < 0xE0 ? 1 : 0;
    *cp = b;
    if (extra == 0 || at + extra >= s.size())
        return 1;
    char32_t value = b & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[at + i]);
        if ((c & 0xC0) != 0x80)
            return 1;
        value = (value << 6) | (c & 0x3F);
    }
    *cp = value;
    return static_cast<size_t>(extra) + 1;
}

void EncodeUtf8(std::string* out, char32_t cp)
{
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::string FoldNameCase(const std::string& name)
{
    // The C.UTF-8 locale knows every letter's case, whatever locale the program runs in.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::string out;
    out.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        char32_t cp = 0;
        at += DecodeUtf8(name, at, &cp);
        if (utf8 != static_cast<locale_t>(0))
            cp = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
        else if (cp >= 'a' && cp <= 'z')
            cp -= 'a' - 'A';
        EncodeUtf8(&out, cp);
    }
    return out;
}
