// Reading a signed decimal number out of text, the way the web host's texts are read.
#pragma once

#include <cstdint>

// Skips leading white space, takes one optional "+" or "-", then decimal digits up to the
// first other character or end. No digits read as 0. The value wraps around at 32 bits.
int32_t ReadWrappingDecimal(const char* begin, const char* end);
