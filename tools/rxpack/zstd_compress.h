// Compresses a file into one zstd frame for a compressed package entry
// (pack_format::kEntryKindZstd): the frame records the file's size, its window stays within
// what every launcher decodes (pack_format::kWindowLogMade), and large files get
// long-distance matching. The library's worker threads do the work.
//
// The Windows build of rxpack carries the decoder only: it writes no compressed variants.
#pragma once

#include <cstdint>
#include <string>

struct ZSTD_OPTIONS {
    static constexpr int kDefaultLevel = 19;
    int level = kDefaultLevel;
    unsigned threads = 0; // 0: one a core
};

// True where this rxpack can compress.
bool CanCompress();
// The levels --level takes (1 to the library's highest).
int MaxCompressionLevel();

// Writes the frame of the file at `from` (size bytes) to `to` (replaced whole on success);
// *crc receives the CRC-32 of the file as read. False with the error otherwise.
bool CompressFile(const std::string& from, uint64_t size, const std::string& to, const ZSTD_OPTIONS& options,
                  uint32_t* crc, std::string* error);
