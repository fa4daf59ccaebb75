// Kind-3 payloads: the target as one zstd frame made against the whole base ("patch from").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delta_make_options.h"

// Appends the frame to out. Its window covers base and target, capped at what every
// launcher takes. False with *reason when the library fails.
bool MakePatchFromPayload(const unsigned char* base, uint64_t baseSize, const unsigned char* target,
                          uint64_t targetSize, const DELTA_MAKE_OPTIONS& options, std::vector<unsigned char>* out,
                          std::string* reason);

// The window a patch-from frame of these sizes is made with.
int PatchFromWindowLog(uint64_t baseSize, uint64_t targetSize);
