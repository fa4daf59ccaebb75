// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), as zip and PNG use it.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues `crc` (0 to start) over size bytes: Crc32(0, "123456789", 9) == 0xCBF43926.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);
