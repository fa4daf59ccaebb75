// The release manifest the studio signs and the web host publishes beside the server
// list. Text, every line ends with "\n", fields in this order, nothing else:
//
//     velgrim-release 1
//     game_version 7
//     updater_version 0
//     file 1002 Velgrim_patch.rxpack 31457515 <SHA-256, 64 lowercase hex>
//     file 1003 UpdaterNew.exe 123904 <SHA-256>   (exactly when updater_version >= 1024)
//     expires 2027-01-07T00:00:00Z                (optional)
//     signature <r || s, 128 lowercase hex>
//
// The signature is ECDSA P-256 with SHA-256 over every byte before the signature line.
// Numbers are unsigned 32-bit decimals without sign or leading zeros, fields are separated
// by one space: a manifest has exactly one spelling, so the parser takes nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypto.h"

struct MANIFEST_FILE {
    uint32_t size = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};
};

// A package the release may serve (format 2): made from an installed version, or the
// cumulative or full one (PACKAGE_BASE_* in protocol/update_protocol.h).
struct MANIFEST_PACKAGE {
    uint32_t base = 0;
    uint64_t size = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};
};

struct RELEASE_MANIFEST {
    // Larger than any well-formed manifest: what a reader needs to fetch at most.
    static constexpr size_t kMaxSize = 1024;

    uint32_t gameVersion = 0;
    uint32_t updaterVersion = 0;
    MANIFEST_FILE patch;
    bool hasUpdater = false; // updaterVersion >= UPDATER_OFFER_MIN_VERSION
    MANIFEST_FILE updater;
    // Format 1 names one patch, the cumulative package (`patch` above, also listed here as
    // PACKAGE_BASE_CUMULATIVE); format 2 lists every package of the release.
    uint32_t format = 1;
    std::vector<MANIFEST_PACKAGE> packages;
    bool hasExpiry = false;
    int64_t expires = 0; // seconds since 1970-01-01T00:00:00Z
    size_t signedSize = 0; // bytes before the signature line (set by the parser)
    uint8_t signature[P256_SIGNATURE_SIZE] = {};

    // The file line of a kind, or null when the manifest has none.
    const MANIFEST_FILE* FileOfKind(int kind) const;
    // The package made from base (an installed version or PACKAGE_BASE_*), or null.
    const MANIFEST_PACKAGE* PackageOfBase(uint32_t base) const;
};

// Parses a whole manifest. On failure returns false with the reason ("line 4: ...").
bool ParseReleaseManifest(const void* text, size_t size, RELEASE_MANIFEST* manifest, std::string* error);

// The text the signature covers: every line before the signature line. hasUpdater is
// taken from updaterVersion.
std::string FormatManifestBody(const RELEASE_MANIFEST& manifest);
// The last line: "signature <hex>\n".
std::string FormatSignatureLine(const uint8_t signature[P256_SIGNATURE_SIZE]);

// The manifest file at path: its first RELEASE_MANIFEST::kMaxSize + 1 bytes, enough for
// the parser to tell a longer file. False when it cannot be read.
bool ReadManifestFile(const std::string& path, std::string* text);
