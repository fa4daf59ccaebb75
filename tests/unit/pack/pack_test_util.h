// Raw package bytes and an event recorder for the unpacker tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "pack/pack_unpacker.h"

namespace pack_test {

struct ENTRY {
    std::string name;
    std::string content;
};

inline void PutU32(std::string& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

inline void PutU64(std::string& bytes, size_t at, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

inline size_t EntryAt(size_t index)
{
    return 48 + 32 * index;
}

// header | table | names | contents, entries in the given order; the bytes the unpacker
// ignores are filled with 0xEE so that nothing depends on them.
inline std::string BuildPackage(const std::vector<ENTRY>& entries)
{
    std::string names;
    std::vector<uint32_t> nameOffsets;
    for (const ENTRY& e : entries) {
        nameOffsets.push_back(static_cast<uint32_t>(names.size()));
        names += e.name;
        names += '\0';
    }
    const size_t tableSize = 32 * entries.size();
    std::string bytes(48 + tableSize, '\xEE');
    PutU32(bytes, 20, static_cast<uint32_t>(tableSize));
    PutU64(bytes, 24, 48);
    PutU32(bytes, 36, static_cast<uint32_t>(names.size()));
    PutU64(bytes, 40, 48 + tableSize);
    bytes += names;
    for (size_t i = 0; i < entries.size(); ++i) {
        PutU64(bytes, EntryAt(i), bytes.size());
        PutU32(bytes, EntryAt(i) + 8, static_cast<uint32_t>(entries[i].content.size()));
        PutU32(bytes, EntryAt(i) + 12, nameOffsets[i]);
        bytes += entries[i].content;
    }
    return bytes;
}

// Deterministic bytes that differ from block to block.
inline std::string Pattern(size_t size, unsigned seed = 1)
{
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

struct EVENT {
    int event;
    int value;
    std::string text;
    bool hasText;

    bool operator==(const EVENT& o) const
    {
        return event == o.event && value == o.value && text == o.text && hasText == o.hasText;
    }
};

inline void PrintTo(const EVENT& e, std::ostream* os)
{
    *os << "(" << e.event << ", " << e.value << ", " << (e.hasText ? "\"" + e.text + "\"" : "null") << ")";
}

inline EVENT Ev(int event, int value, const std::string& text)
{
    return {event, value, text, true};
}

inline EVENT Err(int code)
{
    return {UNPACK_EVENT_ERROR, code, "", false};
}

// The callback is a plain function: it records into whichever recorder is current.
class EVENT_RECORDER {
public:
    EVENT_RECORDER() { Current() = this; }
    ~EVENT_RECORDER() { Current() = nullptr; }
    EVENT_RECORDER(const EVENT_RECORDER&) = delete;
    EVENT_RECORDER& operator=(const EVENT_RECORDER&) = delete;

    static bool Callback(int event, int value, const char* text)
    {
        if (Current() != nullptr)
            Current()->events.push_back({event, value, text != nullptr ? text : "", text != nullptr});
        return false; // ignored by the unpacker
    }

    // The values of the progress events for one output path.
    std::vector<int> Progress(const std::string& path) const
    {
        std::vector<int> values;
        for (const EVENT& e : events)
            if (e.event == UNPACK_EVENT_FILE_PROGRESS && e.text == path)
                values.push_back(e.value);
        return values;
    }

    std::vector<EVENT> events;

private:
    static EVENT_RECORDER*& Current()
    {
        static EVENT_RECORDER* current = nullptr;
        return current;
    }
};

// The path the unpacker reports for a name joined to a target directory.
inline std::string Joined(const std::string& dir, const std::string& name)
{
#ifdef _WIN32
    const bool ends = !dir.empty() && (dir.back() == '\\' || dir.back() == '/');
    return dir + (ends ? "" : "\\") + name;
#else
    std::string s = dir;
    if (!s.empty() && s.back() != '/' && s.back() != '\\')
        s += '/';
    s += name;
    for (char& c : s)
        if (c == '\\')
            c = '/';
    return s;
#endif
}

} // namespace pack_test
