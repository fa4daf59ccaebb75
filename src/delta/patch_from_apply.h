// Applies a kind-3 payload: one zstd frame made with the whole base as its prefix.
#pragma once

#include <cstdint>
#include <string>

#include "delta/delta_io.h"

// The payload is the size bytes at offset of input. A frame whose window is above this
// program's limit, that decodes to other than targetSize bytes, or that is followed by
// anything is refused with *reason; out may then hold a part.
bool ApplyPatchFromPayload(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, uint64_t offset,
                           uint64_t size, uint64_t targetSize, DELTA_OUTPUT& out, std::string* reason);
