#include "updater_resource.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/decimal_text.h"

namespace {

constexpr uint32_t kResourceDirectory = 2; // data directory index
constexpr uint32_t kTypeVersion = 16;      // RT_VERSION
constexpr uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr uint64_t kMaxProgram = 256u << 20;

// Bounds-checked little-endian reads of the file's bytes.
class BYTES {
public:
    explicit BYTES(const std::string& bytes) : m_Bytes(bytes) {}
    bool Has(uint64_t at, uint64_t size) const { return at <= m_Bytes.size() && size <= m_Bytes.size() - at; }
    uint32_t U16(uint64_t at) const { return Byte(at) | Byte(at + 1) << 8; }
    uint32_t U32(uint64_t at) const { return U16(at) | U16(at + 2) << 16; }

private:
    uint32_t Byte(uint64_t at) const { return at < m_Bytes.size() ? static_cast<unsigned char>(m_Bytes[at]) : 0; }
    const std::string& m_Bytes;
};

struct SECTION {
    uint32_t rva, size, raw, rawSize;
};

// The file offset of an RVA, or false.
bool Map(const std::vector<SECTION>& sections, uint32_t rva, uint32_t size, uint64_t* at)
{
    for (const SECTION& s : sections)
        if (rva >= s.rva && uint64_t{rva} + size <= uint64_t{s.rva} + std::min(s.size, s.rawSize)) {
            *at = uint64_t{s.raw} + (rva - s.rva);
            return true;
        }
    return false;
}

// The first entry of a resource directory (at dir in the file), or the one with `id`.
bool FindEntry(const BYTES& b, uint64_t dir, bool anyId, uint32_t id, uint32_t* target)
{
    if (!b.Has(dir, 16))
        return false;
    const uint32_t count = b.U16(dir + 12) + b.U16(dir + 14);
    for (uint32_t i = 0; i < count && b.Has(dir + 16 + 8 * i, 8); ++i) {
        const uint32_t name = b.U32(dir + 16 + 8 * i);
        if (anyId ? true : (name & 0x80000000u) == 0 && name == id) {
            *target = b.U32(dir + 20 + 8 * i);
            return true;
        }
    }
    return false;
}

// One block of the version information: wLength, wValueLength, wType, a UTF-16 key, then
// its value and children, each 32-bit aligned.
struct BLOCK {
    uint64_t at = 0, end = 0, value = 0, children = 0;
    uint32_t valueLength = 0, type = 0;
    std::string key; // ASCII keys only
};

bool ReadBlock(const BYTES& b, uint64_t at, uint64_t limit, BLOCK* block)
{
    if (!b.Has(at, 6) || at + 6 > limit)
        return false;
    const uint32_t length = b.U16(at);
    if (length < 6 || at + length > limit)
        return false;
    block->at = at;
    block->end = at + length;
    block->valueLength = b.U16(at + 2);
    block->type = b.U16(at + 4);
    block->key.clear();
    uint64_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > block->end)
            return false;
        const uint32_t c = b.U16(p);
        if (c == 0)
            break;
        block->key += c < 0x80 ? static_cast<char>(c) : '?';
    }
    block->value = (p + 2 + 3) & ~uint64_t{3};
    // Text values count UTF-16 units, binary ones bytes.
    const uint64_t valueBytes = block->type == 1 ? uint64_t{block->valueLength} * 2 : block->valueLength;
    block->children = (block->value + valueBytes + 3) & ~uint64_t{3};
    return block->value <= block->end;
}

// The children of parent named key (the first), or false.
bool Child(const BYTES& b, const BLOCK& parent, const std::string& key, BLOCK* found)
{
    for (uint64_t at = parent.children; at < parent.end;) {
        BLOCK child;
        if (!ReadBlock(b, at, parent.end, &child))
            return false;
        if (key.empty() || child.key == key) {
            *found = child;
            return true;
        }
        at = (child.end + 3) & ~uint64_t{3};
    }
    return false;
}

} // namespace

bool ReadUpdaterVersion(const std::string& bytes, uint32_t* version, std::string* error)
{
    const BYTES b(bytes);
    const uint32_t pe = b.U32(0x3C);
    if (b.U16(0) != 0x5A4D || !b.Has(pe, 24) || b.U32(pe) != 0x00004550u) {
        *error = "is not a Windows program (no PE header)";
        return false;
    }
    const uint32_t sectionCount = b.U16(pe + 6);
    const uint64_t optional = uint64_t{pe} + 24;
    const uint32_t optionalSize = b.U16(pe + 20);
    const uint32_t magic = b.U16(optional);
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    const uint32_t directoryCount = b.U32(optional + (magic == 0x20B ? 108 : 92));
    if ((magic != 0x10B && magic != 0x20B) || directoryCount <= kResourceDirectory ||
        directories + 8 * (kResourceDirectory + 1) > optional + optionalSize) {
        *error = "is not a Windows program (malformed optional header)";
        return false;
    }
    std::vector<SECTION> sections;
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount && b.Has(table + 40 * i, 40); ++i) {
        const uint64_t s = table + 40 * i;
        sections.push_back({b.U32(s + 12), b.U32(s + 8), b.U32(s + 20), b.U32(s + 16)});
    }
    const uint32_t resourceRva = b.U32(directories + 8 * kResourceDirectory);
    const uint32_t resourceSize = b.U32(directories + 8 * kResourceDirectory + 4);
    uint64_t root = 0;
    const std::string none = "has no version resource (a launcher built by this project carries one)";
    if (resourceRva == 0 || !Map(sections, resourceRva, resourceSize, &root)) {
        *error = none;
        return false;
    }
    // type RT_VERSION -> the first name -> the first language -> the data entry.
    uint32_t target = 0;
    uint64_t at = root;
    for (int level = 0; level < 2; ++level) {
        if (!FindEntry(b, at, level != 0, kTypeVersion, &target) || (target & 0x80000000u) == 0) {
            *error = none;
            return false;
        }
        at = root + (target & 0x7FFFFFFFu);
    }
    if (!FindEntry(b, at, true, 0, &target) || (target & 0x80000000u) != 0 || !b.Has(root + target, 16)) {
        *error = none;
        return false;
    }
    const uint32_t dataRva = b.U32(root + target);
    const uint32_t dataSize = b.U32(root + target + 4);
    uint64_t data = 0;
    BLOCK info, strings, language, text;
    if (!Map(sections, dataRva, dataSize, &data) || !ReadBlock(b, data, data + dataSize, &info) ||
        info.key != "VS_VERSION_INFO" || info.valueLength < 52 || !b.Has(info.value, 52) ||
        b.U32(info.value) != kFixedSignature) {
        *error = "has a malformed version resource";
        return false;
    }
    const uint32_t fileMs = b.U32(info.value + 8);
    const uint32_t fileLs = b.U32(info.value + 12);
    if (!Child(b, info, "StringFileInfo", &strings) || !Child(b, strings, "", &language) ||
        !Child(b, language, "FileVersion", &text) || text.type != 1) {
        *error = "has no FileVersion text in its version resource";
        return false;
    }
    std::string decimal;
    for (uint64_t p = text.value; p + 2 <= text.end; p += 2) {
        const uint32_t c = b.U16(p);
        if (c == 0)
            break;
        decimal += c < 0x80 ? static_cast<char>(c) : '?';
    }
    uint32_t value = 0;
    if (!ParseUInt32(decimal, &value) || (decimal.size() > 1 && decimal[0] == '0')) {
        *error = "has a FileVersion that is not an updater version: '" + decimal.substr(0, 40) + "'";
        return false;
    }
    // As the build writes them: N.0.0.0 below 65536, else high.low.0.0.
    const uint32_t high = value >> 16, low = value & 0xFFFF;
    const uint32_t expectMs = high == 0 ? low << 16 : (high << 16) | low;
    if (fileMs != expectMs || fileLs != 0) {
        *error = "has a version resource whose FileVersion " + decimal + " disagrees with its binary version " +
                 std::to_string(fileMs >> 16) + "." + std::to_string(fileMs & 0xFFFF) + "." +
                 std::to_string(fileLs >> 16) + "." + std::to_string(fileLs & 0xFFFF);
        return false;
    }
    *version = value;
    return true;
}

bool ReadUpdaterVersionFile(const std::string& path, uint32_t* version, std::string* error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + " cannot be opened";
        return false;
    }
    std::string bytes;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) != 0 && bytes.size() <= kMaxProgram)
        bytes.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok || bytes.size() > kMaxProgram) {
        *error = path + (ok ? " is larger than a launcher program can be" : " cannot be read");
        return false;
    }
    if (!ReadUpdaterVersion(bytes, version, error)) {
        *error = path + " " + *error;
        return false;
    }
    return true;
}
