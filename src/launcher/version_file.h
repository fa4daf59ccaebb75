// version.txt: the installed game version as bare decimal digits.
#pragma once

#include <cstdint>

extern uint32_t g_localVersion;

// Reads version.txt into g_localVersion as the C++ stream extraction of an unsigned number
// does: blanks, an optional sign, decimal digits (a minus wraps around, a value past 32
// bits reads as 4294967295). A file that does not open, or holds blanks alone, leaves it
// untouched; one that does not start with a number sets it to 0.
void ReadLocalVersion();

// Writes g_localVersion as bare digits, no line end. The old file is replaced only once
// the new one is complete, so a failed write never leaves a damaged or empty file.
// Returns false when nothing was written.
bool WriteLocalVersion();
