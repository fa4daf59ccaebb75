// The bytes of a small Windows program (PE32+) whose only section holds a version
// resource, as the build's resource compiler lays it out: for the updater-version tests.
#pragma once

#include <cstdint>
#include <string>

namespace test_program {

struct VERSION_RESOURCE {
    uint32_t fileVersionMs = 0; // the binary fields: high word, low word, then the LS pair
    uint32_t fileVersionLs = 0;
    std::string stringKey = "FileVersion";
    std::string text;            // the decimal version
    bool withResource = true;
};

inline void Put(std::string& b, size_t at, uint64_t v, int bytes)
{
    if (b.size() < at + bytes)
        b.resize(at + bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

inline void Align(std::string& b)
{
    while (b.size() % 4 != 0)
        b += '\0';
}

// One block: wLength, wValueLength, wType, UTF-16 key, padding, value, padding, children.
inline std::string Block(const std::string& key, const std::string& value, uint32_t valueLength, uint32_t type,
                         const std::string& children)
{
    std::string b(6, '\0');
    for (char c : key) {
        b += c;
        b += '\0';
    }
    b += std::string(2, '\0');
    Align(b);
    b += value;
    Align(b);
    b += children;
    Put(b, 0, b.size(), 2);
    Put(b, 2, valueLength, 2);
    Put(b, 4, type, 2);
    return b;
}

inline std::string VersionInfo(const VERSION_RESOURCE& r)
{
    std::string fixed;
    Put(fixed, 0, 0xFEEF04BDu, 4);
    Put(fixed, 4, 0x10000, 4);
    Put(fixed, 8, r.fileVersionMs, 4);
    Put(fixed, 12, r.fileVersionLs, 4);
    Put(fixed, 16, r.fileVersionMs, 4);
    Put(fixed, 20, r.fileVersionLs, 4);
    Put(fixed, 48, 0, 4);
    std::string text;
    for (char c : r.text) {
        text += c;
        text += '\0';
    }
    text += std::string(2, '\0');
    const std::string value = Block(r.stringKey, text, static_cast<uint32_t>(r.text.size() + 1), 1, "");
    const std::string table = Block("040904B0", "", 0, 1, value);
    const std::string strings = Block("StringFileInfo", "", 0, 1, table);
    return Block("VS_VERSION_INFO", fixed, 52, 0, strings);
}

inline std::string Program(const VERSION_RESOURCE& r)
{
    const uint32_t pe = 0x40, optional = pe + 24, sections = optional + 240, raw = 0x200, rva = 0x1000;
    std::string b(raw, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    Put(b, 0x3C, pe, 4);
    b.replace(pe, 4, std::string("PE\0\0", 4));
    Put(b, pe + 4, 0x8664, 2);
    Put(b, pe + 6, 1, 2);   // sections
    Put(b, pe + 20, 240, 2); // optional header size
    Put(b, optional, 0x20B, 2);
    Put(b, optional + 108, 16, 4); // data directories
    std::string rsrc(0x58, '\0');
    Put(rsrc, 14, 1, 2);
    Put(rsrc, 16, 16, 4); // RT_VERSION
    Put(rsrc, 20, 0x80000018u, 4);
    Put(rsrc, 0x18 + 14, 1, 2);
    Put(rsrc, 0x18 + 16, 1, 4);
    Put(rsrc, 0x18 + 20, 0x80000030u, 4);
    Put(rsrc, 0x30 + 14, 1, 2);
    Put(rsrc, 0x30 + 16, 0x409, 4);
    Put(rsrc, 0x30 + 20, 0x48, 4);
    const std::string info = VersionInfo(r);
    Put(rsrc, 0x48, rva + 0x58, 4);
    Put(rsrc, 0x4C, info.size(), 4);
    rsrc += info;
    Align(rsrc);
    if (r.withResource) {
        Put(b, optional + 112 + 16, rva, 4);
        Put(b, optional + 112 + 20, rsrc.size(), 4);
    }
    b.replace(sections, 5, ".rsrc");
    Put(b, sections + 8, rsrc.size(), 4);
    Put(b, sections + 12, rva, 4);
    Put(b, sections + 16, rsrc.size(), 4);
    Put(b, sections + 20, raw, 4);
    return b + rsrc;
}

// A program built as the project builds launchers: version N in every field.
inline std::string Updater(uint32_t version)
{
    VERSION_RESOURCE r;
    const uint32_t high = version >> 16, low = version & 0xFFFF;
    r.fileVersionMs = high == 0 ? low << 16 : (high << 16) | low;
    r.text = std::to_string(version);
    return Program(r);
}

} // namespace test_program
