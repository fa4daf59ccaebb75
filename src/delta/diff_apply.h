// Applies a kind-4 payload (a suffix-sorting difference, see delta_format.h) to a mapped
// base, writing the target to out as it is made.
#pragma once

#include <cstdint>
#include <string>

#include "delta/delta_io.h"

// The payload is the size bytes at offset of input. False with *reason for any payload that
// does not describe exactly targetSize bytes from this base; out may then hold a part.
bool ApplyDiffPayload(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, uint64_t offset,
                      uint64_t size, uint64_t targetSize, DELTA_OUTPUT& out, std::string* reason);
