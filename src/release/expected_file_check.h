// Checks a download against the size and SHA-256 the manifest gives for it, hashing the
// bytes as they arrive so that no second pass over the file is needed.
//
//     EXPECTED_FILE_CHECK check(*manifest.FileOfKind(kind));
//     ... check.Feed(chunk, size) for every chunk, in order ...
//     if (!check.Finish(&problem)) ... a failed transfer ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"
#include "release/release_manifest.h"

class EXPECTED_FILE_CHECK {
public:
    explicit EXPECTED_FILE_CHECK(const MANIFEST_FILE& expected);
    // A package line (its size may pass 4 GiB).
    explicit EXPECTED_FILE_CHECK(const MANIFEST_PACKAGE& expected);

    // False as soon as more bytes than expected arrived (or hashing failed): the
    // transfer can stop there.
    bool Feed(const void* data, size_t size);
    // True when exactly the expected number of bytes arrived and their SHA-256 matches;
    // otherwise false with the reason ("12 bytes instead of 13", "SHA-256 differs").
    // Call once.
    bool Finish(std::string* problem);

    uint64_t Received() const { return m_uReceived; }

private:
    MANIFEST_PACKAGE m_Expected;
    SHA256_STREAM m_Hash;
    uint64_t m_uReceived = 0;
    bool m_bHashFailed = false;
};
