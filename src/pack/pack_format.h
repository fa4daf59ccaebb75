// The package file layout: a 48-byte header, 32-byte entries, a name block and raw
// contents, all integers little-endian, all offsets absolute positions in the file.
#pragma once

#include <cstdint>

namespace pack_format {

// Header.
constexpr uint32_t kHeaderSize = 48;
constexpr uint32_t kTableSizeAt = 20;   // u32, a multiple of kEntrySize
constexpr uint32_t kTableOffsetAt = 24; // u64
constexpr uint32_t kNamesSizeAt = 36;   // u32
constexpr uint32_t kNamesOffsetAt = 40; // u64

// Entry.
constexpr uint32_t kEntrySize = 32;
constexpr uint32_t kDataOffsetAt = 0; // u64
constexpr uint32_t kDataSizeAt = 8;   // u32
constexpr uint32_t kNameOffsetAt = 12; // u32

// The bytes the unpacker ignores, as rxpack writes and checks them.
constexpr char kMagic[12] = {'V', 'G', 'R', 'X', 'P', 'A', 'C', 'K', '\r', '\n', '\x1a', '\n'};
constexpr uint32_t kMagicAt = 0;
constexpr uint32_t kVersionAt = 12;     // u32 format version
constexpr uint32_t kFlagsAt = 16;       // u32, kFlag* below
constexpr uint32_t kIndexCrcAt = 32;    // u32 CRC-32 of the entry table followed by the name block
constexpr uint32_t kContentCrcAt = 16;  // in an entry: u32 CRC-32 of the content
constexpr uint32_t kEntryKindAt = 20;   // in an entry: u32, kEntryKind* below
constexpr uint32_t kEntryReservedAt = 24; // in an entry: 8 bytes, 0 but in encoded entries

// A package whose flags are 0 has only whole files: version 1, the package every unpacker
// applies. Removals alone make it version 2, encoded entries version 3; each is served only
// to launchers that said they understand what the flags announce. The flag bits are the
// request's PACKAGE_FEATURE_* bits: a package needs exactly the features of its flags.
constexpr uint32_t kFormatVersion = 1;
constexpr uint32_t kFormatVersionFlagged = 2;
constexpr uint32_t kFormatVersionEncoded = 3;
// Some entries are removals.
constexpr uint32_t kFlagRemovals = 1u << 0;
// Some entries are zstd frames (kEntryKindZstd).
constexpr uint32_t kFlagCompressed = 1u << 1;
// Some entries are deltas against the installed file (kEntryKindDelta*).
constexpr uint32_t kFlagDeltas = 1u << 2;
// The flags this build reads.
constexpr uint32_t kKnownFlags = kFlagRemovals | kFlagCompressed | kFlagDeltas;

constexpr uint32_t FormatVersionOf(uint32_t flags)
{
    return flags == 0 ? kFormatVersion
                      : (flags & (kFlagCompressed | kFlagDeltas)) != 0 ? kFormatVersionEncoded : kFormatVersionFlagged;
}

// A whole file: data size bytes at data offset, written under the name.
constexpr uint32_t kEntryKindFile = 0;
// The file of that name goes (no content: data offset and size 0, CRC 0). A plain unpacker
// would make it an empty file, which is why only flagged packages carry removals.
constexpr uint32_t kEntryKindRemoval = 1;
// The data is one zstd frame of the whole file.
constexpr uint32_t kEntryKindZstd = 2;
// A zstd "patch from" frame with the installed file as its reference.
constexpr uint32_t kEntryKindDeltaZstd = 3;
// A suffix-sort difference against the installed file, its streams zstd-compressed.
constexpr uint32_t kEntryKindDeltaDiff = 4;
// Encoded entries (kinds 2-4) record what they decode to in the entry's last 8 bytes;
// kinds 0 and 1 keep them zero. The content CRC is always that of the stored bytes.
constexpr uint32_t kDecodedSizeAt = 24; // u32
constexpr uint32_t kDecodedCrcAt = 28;  // u32 CRC-32 of the decoded file

constexpr bool IsEncodedKind(uint32_t kind)
{
    return kind >= kEntryKindZstd && kind <= kEntryKindDeltaDiff;
}

// The largest zstd window a launcher decodes with: what its address space can hold beside
// the rest (1 GiB on 32-bit builds, 2 GiB on 64-bit). rxpack makes none above 1 GiB, so every
// launcher can decode every frame.
constexpr unsigned kWindowLogMade = 30;
constexpr unsigned kWindowLogMax = sizeof(void*) == 4 ? 30 : 31;

inline uint32_t GetU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t GetU64(const unsigned char* p)
{
    return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}

inline void PutU32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void PutU64(unsigned char* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace pack_format
