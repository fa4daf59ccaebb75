// For one changed file: both kinds of delta against the kept version's file, the smallest
// kept when it is worth it (at most 0.8x the compressed whole file) and, applied with the
// launcher's own code, reproduces the target exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delta_make_options.h"

// True where this rxpack makes deltas (Linux; the Windows build picks none).
bool CanMakeDeltas();

struct DELTA_PICK {
    uint32_t kind = 0;                 // 0: no delta; else kEntryKindDeltaZstd or kEntryKindDeltaDiff
    std::vector<unsigned char> stored; // the entry's stored bytes: the two hashes, then the payload
};

// base, target: the files' bytes (mapped). wholeSize: the stored size of the target
// compressed whole. Deltas that fail their check are dropped with a line in *warnings.
void PickDelta(const unsigned char* base, uint64_t baseSize, const unsigned char* target, uint64_t targetSize,
               uint64_t wholeSize, const DELTA_MAKE_OPTIONS& options, DELTA_PICK* pick,
               std::vector<std::string>* warnings);
