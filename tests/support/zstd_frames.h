// zstd frames written byte by byte (raw blocks), so that tests on every build can make
// frames that lie: about their size, their window, what follows them.
#pragma once

#include <cstdint>
#include <string>

namespace zstd_frames {

// One frame: magic, a 4-byte content size field saying frameSize, a window of
// 2^(10 + windowExponent) bytes, and content as one raw last block.
inline std::string RawFrame(const std::string& content, uint32_t frameSize, unsigned windowExponent = 0)
{
    std::string f = "\x28\xB5\x2F\xFD";
    f += static_cast<char>(0x80); // content size in 4 bytes, a window descriptor, no checksum
    f += static_cast<char>(windowExponent << 3);
    for (int i = 0; i < 4; ++i)
        f += static_cast<char>(frameSize >> (8 * i));
    const uint32_t block = static_cast<uint32_t>(content.size()) << 3 | 1; // raw, last
    for (int i = 0; i < 3; ++i)
        f += static_cast<char>(block >> (8 * i));
    return f + content;
}

inline std::string RawFrame(const std::string& content)
{
    return RawFrame(content, static_cast<uint32_t>(content.size()));
}

} // namespace zstd_frames
