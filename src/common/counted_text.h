// Counted bytes read as a text.
#pragma once

#include <string>

// The bytes up to the first zero byte, never past length; empty for null or length <= 0.
std::string TextBeforeZero(const char* data, int length);
