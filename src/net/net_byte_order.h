// Little-endian 32-bit fields, as they stand in frame headers and message bodies.
#pragma once

#include <cstdint>

inline void StoreLe32(char* out, uint32_t value)
{
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
    out[2] = static_cast<char>((value >> 16) & 0xFF);
    out[3] = static_cast<char>((value >> 24) & 0xFF);
}

inline uint32_t LoadLe32(const char* in)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(in);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}
