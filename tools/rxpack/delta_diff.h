// Kind-4 payloads: a suffix-sorting difference of target against base in the manner of
// bsdiff (see src/delta/delta_format.h for the bytes), its streams compressed by zstd.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delta_make_options.h"

// Appends the payload to out. False with *reason when the files are too large for the
// suffix sort, the deadline passes, or the library fails.
bool MakeDiffPayload(const unsigned char* base, uint64_t baseSize, const unsigned char* target, uint64_t targetSize,
                     const DELTA_MAKE_OPTIONS& options, std::vector<unsigned char>* out, std::string* reason);
