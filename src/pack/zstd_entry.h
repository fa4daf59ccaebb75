// Decodes a compressed entry (pack_format::kEntryKindZstd) as a stream: the stored bytes are
// read in pieces and the file comes out in pieces, so memory stays at the frame's window
// (bounded by windowLogMax) plus two buffers, whatever the file's size.
//
// Refused, before any byte counts as good: a frame whose header does not record exactly
// the entry's decoded size, a window above windowLogMax, more than one frame or bytes after
// it, a frame that decodes to more or fewer bytes than recorded, and a stored or decoded
// CRC-32 other than the entry's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pack/pack_index.h"

class PACKAGE_SOURCE;

enum class ENTRY_DECODE { kOk, kDamaged, kWriteFailed };

// Up to `want` bytes of the package at offset (at least one unless it ends there); *got says how many.
using ENTRY_INPUT = std::function<const unsigned char*(uint64_t offset, uint32_t want, uint32_t* got)>;
// Takes decoded bytes in order; false: they could not be written.
using ENTRY_OUTPUT = std::function<bool(const unsigned char* bytes, size_t size)>;

// kDamaged and kWriteFailed come with the problem (without the entry's name).
ENTRY_DECODE DecodeZstdEntry(const PACK_INDEX_ENTRY& e, unsigned windowLogMax, const ENTRY_INPUT& input,
                             const ENTRY_OUTPUT& output, std::string* problem);

// The input from a package source, through a buffer of its own.
ENTRY_INPUT SourceInput(const PACKAGE_SOURCE& source);
