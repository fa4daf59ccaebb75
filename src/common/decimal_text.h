// Decimal numbers in text: the web host's lenient signed numbers, and the strict unsigned
// ones of the program's own files and command lines.
#pragma once

#include <cstdint>
#include <string>

// Skips leading white space, takes one optional "+" or "-", then decimal digits up to the
// first other character or end. No digits read as 0. The value wraps around at 32 bits.
int32_t ReadWrappingDecimal(const char* begin, const char* end);

// An unsigned decimal of digits alone (no sign, no blanks, not empty) no larger than max.
bool ParseUnsignedDecimal(const std::string& text, uint64_t max, uint64_t* value);
// The same up to 4294967295.
bool ParseUInt32(const std::string& text, uint32_t* value);
