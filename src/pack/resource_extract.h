// Writes the file carried in the program's own module as the "BINARY" resource 1004.
#pragma once

constexpr int RESOURCE_ID_BINARY_FILE = 1004;

// 1 when the file was written in full, else 0 with nothing left behind. Builds without
// Windows resources always give 0.
int ExtractResourceToFile(const char* path);
