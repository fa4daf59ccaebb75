// Checked whole reads and writes on an open file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

// Moves the file position to offset from the start; false past 2^63 or on failure.
bool SeekFile(HANDLE file, uint64_t offset);
// Reads exactly size bytes at offset. False on a failed seek or read, or when the file
// ends first.
bool ReadFileAt(HANDLE file, uint64_t offset, void* out, uint32_t size);
// Reads up to size bytes at offset; *got says how many (fewer where the file ends).
// False only on a failed seek or read.
bool ReadFileUpTo(HANDLE file, uint64_t offset, void* out, uint32_t size, uint32_t* got);
// Writes every byte at the file position, in as many calls as it takes. False on a
// failed or short write (a full disk, a file-size limit).
bool WriteWhole(HANDLE file, const void* data, size_t size);
