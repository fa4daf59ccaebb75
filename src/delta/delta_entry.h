// One delta entry of a package (kind 3 or 4, see delta_format.h) applied to its base: the
// base must be the file the entry names by hash, and the file made must be the one it
// names, of its recorded size and CRC.
#pragma once

#include <cstdint>
#include <string>

#include "delta/delta_io.h"
#include "platform/crypto.h"

struct DELTA_ENTRY {
    uint32_t kind = 0;       // kEntryKindDeltaZstd or kEntryKindDeltaDiff
    uint64_t offset = 0;     // where the stored bytes start in the input
    uint32_t storedSize = 0; // hashes and payload
    uint32_t decodedSize = 0;
    uint32_t decodedCrc = 0;
};

// The base hash and target hash the entry begins with.
bool ReadDeltaHashes(DELTA_INPUT& input, const DELTA_ENTRY& entry, uint8_t baseHash[SHA256_DIGEST_SIZE],
                     uint8_t targetHash[SHA256_DIGEST_SIZE], std::string* reason);

// Writes the entry's file to out from the base (data, size: the installed file, mapped).
// False with *reason when the base is not the entry's, the payload is malformed, or the
// result differs in size, CRC or SHA-256 from what the entry records; out may then hold a
// part, which the caller throws away. *baseMismatch (when given) tells that the base was the
// fault, not the entry.
bool ApplyDeltaEntry(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, const DELTA_ENTRY& entry,
                     DELTA_OUTPUT& out, std::string* reason, bool* baseMismatch = nullptr);

// The SHA-256 of a mapped file.
bool MappedSha256(const unsigned char* data, uint64_t size, uint8_t digest[SHA256_DIGEST_SIZE]);
