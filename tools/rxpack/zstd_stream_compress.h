// One zstd frame of a block of bytes, as the delta makers write their streams.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "delta_make_options.h"

// Appends the frame to out. windowLog caps the frame's window (0: the level's own).
// prefix, when not null, is the content the frame is made against (patch from), with
// long-distance matching.
bool CompressFrame(const void* data, size_t size, const DELTA_MAKE_OPTIONS& options, int windowLog,
                   const void* prefix, size_t prefixSize, std::vector<unsigned char>* out, std::string* reason);
