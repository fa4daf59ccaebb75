// The frame around every message: id (4 bytes LE, written from a signed 16-bit id), body
// length (4 bytes LE), then the body.
#pragma once

#include <cstdint>
#include <string>

#include "net/net_byte_order.h"

constexpr int kFrameHeaderSize = 8;

inline void StoreFrameHeader(char* out, short id, uint32_t bodyLength)
{
    StoreLe32(out, static_cast<uint32_t>(static_cast<int32_t>(id)));
    StoreLe32(out + 4, bodyLength);
}

inline std::string FrameHeader(short id, uint32_t bodyLength)
{
    char header[kFrameHeaderSize];
    StoreFrameHeader(header, id, bodyLength);
    return std::string(header, sizeof(header));
}
