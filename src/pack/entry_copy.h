// Copies one package entry to an open output file in 512-byte logical blocks, reporting
// progress as the unpacker's events, while the physical reads and writes span as many
// blocks as the reader's window holds.
#pragma once

#include <cstdint>

#include "pack/pack_unpacker.h"
#include "pack/package_reader.h"

// Returns 0, UNPACK_ERR_READ (already reported as an error event) or UNPACK_ERR_WRITE.
// crc, when not null, receives the CRC-32 of the bytes copied.
int CopyEntry(PACKAGE_READER& reader, HANDLE out, uint64_t offset, uint32_t size, const char* path,
              UNPACK_CALLBACK callback, uint32_t* crc = nullptr);
