// Time stamps of the release manifest: "2027-01-07T00:00:00Z", UTC, exactly this form,
// against seconds since 1970-01-01T00:00:00Z.
#pragma once

#include <cstdint>
#include <string>

// False for anything but the exact form with a real date and time (no leap seconds).
bool ParseUtcTime(const std::string& text, int64_t* seconds);
// The exact form; years 0000 to 9999 (other times give an empty text).
std::string FormatUtcTime(int64_t seconds);
