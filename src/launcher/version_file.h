// version.txt: the installed game version as bare decimal digits.
#pragma once

#include <cstdint>

extern uint32_t g_localVersion;

// Reads version.txt into g_localVersion by stream extraction; a file that does not open
// leaves it untouched, one that does not start with a number sets it to 0.
void ReadLocalVersion();

// Writes g_localVersion as bare digits, no line end. The old file is replaced only once
// the new one is complete, so a failed write never leaves a damaged or empty file.
// Returns false when nothing was written.
bool WriteLocalVersion();
