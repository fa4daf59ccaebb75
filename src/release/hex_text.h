// Lowercase hexadecimal, as the release manifest writes digests and signatures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

std::string HexLower(const uint8_t* bytes, size_t size);
// Exactly 2 * size lowercase hex digits; anything else (upper case included) is false.
bool ParseHexLower(const std::string& text, uint8_t* bytes, size_t size);
