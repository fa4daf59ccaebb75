// The release manifest the studio signs and the web host publishes beside the server
// list. Text, every line ends with "\n", fields in this order, nothing else. Format 1
// (velgrim_release.txt, read by every signed launcher):
//
//     velgrim-release 1
//     game_version 7
//     updater_version 0
//     file 1002 Velgrim_patch.rxpack 31457515 <SHA-256, 64 lowercase hex>
//     file 1003 UpdaterNew.exe 123904 <SHA-256>   (exactly when updater_version >= 1024)
//     expires 2027-01-07T00:00:00Z                (optional)
//     signature <r || s, 128 lowercase hex>
//
// Format 2 (velgrim_release2.txt) names every package the release may serve:
//
//     velgrim-release 2
//     game_version 7
//     updater_version 0
//     file 1003 UpdaterNew.exe 123904 <SHA-256>   (exactly when updater_version >= 1024)
//     package cumulative 31457515 <SHA-256>       (at most 4294967295 bytes: the plain answer)
//     package full 5368709120 <SHA-256>
//     package from 5 1048576 <SHA-256>            (zero or more, versions rising, below
//                                                  game_version, at most kMaxFromPackages)
//     expires 2027-01-07T00:00:00Z                (optional)
//     signature <r || s, 128 lowercase hex>
//
// Format 3 (velgrim_release3.txt) adds each package's variant and the mirrors that carry
// the packages under their SHA-256 (objects/<sha256>):
//
//     velgrim-release 3
//     game_version 7
//     updater_version 0
//     file 1003 UpdaterNew.exe 123904 <SHA-256>   (exactly when updater_version >= 1024)
//     package cumulative plain 31457515 <SHA-256> (required, plain only, at most 4294967295)
//     package full plain 5368709120 <SHA-256>     (optional)
//     package full zstd 2147483648 <SHA-256>
//     package from 5 plain 1048576 <SHA-256>      (plain first, then zstd, then delta;
//     package from 5 delta 65536 <SHA-256>         each variant needs the plain one)
//     mirror https://cdn.example.com/velgrim/     (0 to kMaxMirrors)
//     expires 2027-01-07T00:00:00Z                (optional)
//     signature <r || s, 128 lowercase hex>
//
// Variants: "plain" (whole files), "zstd" (compressed entries), "delta" (compressed and
// delta entries); a launcher takes only a variant whose features it asked for.
//
// The signature is ECDSA P-256 with SHA-256 over every byte before the signature line.
// Numbers are unsigned decimals without sign or leading zeros (package sizes 64-bit, all
// else 32-bit), fields are separated by one space: a manifest has exactly one spelling, so
// the parser takes nothing else.
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
    // The PACKAGE_FEATURE_* its entries need beyond removals: 0 (plain),
    // PACKAGE_FEATURE_ZSTD, or PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA. Format 3 only.
    uint32_t features = 0;
    uint64_t size = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};
};

struct RELEASE_MANIFEST {
    // Larger than any well-formed manifest of format 1.
    static constexpr size_t kMaxFormat1Size = 1024;
    // Package lines "from V" a format-2 manifest may hold: a store keeps that many older
    // versions at most per release.
    static constexpr size_t kMaxFromPackages = 500;
    // Larger than any well-formed manifest of format 2 (kMaxFromPackages lines of the
    // longest spelling, 110 bytes each, is below 56 000 bytes).
    static constexpr size_t kMaxFormat2Size = 65536;
    // Format 3's bound, and what a reader needs to fetch at most: it fits the launcher's
    // HTTP buffer (128 KiB with the headers). Three variants for 500 versions may not fit;
    // the writer checks what it wrote.
    static constexpr size_t kMaxSize = 120000;
    // Mirror lines, and the length of one URL.
    static constexpr size_t kMaxMirrors = 16;
    static constexpr size_t kMaxMirrorLength = 512;

    uint32_t gameVersion = 0;
    uint32_t updaterVersion = 0;
    MANIFEST_FILE patch;
    bool hasUpdater = false; // updaterVersion >= UPDATER_OFFER_MIN_VERSION
    MANIFEST_FILE updater;
    // Format 1 names one patch, the cumulative package (`patch` above, also listed here as
    // PACKAGE_BASE_CUMULATIVE); format 2 lists every package of the release.
    uint32_t format = 1;
    std::vector<MANIFEST_PACKAGE> packages;
    // Base URLs ("http://" or "https://") of the mirrors, in the order to try them (format 3).
    std::vector<std::string> mirrors;
    bool hasExpiry = false;
    int64_t expires = 0; // seconds since 1970-01-01T00:00:00Z
    size_t signedSize = 0; // bytes before the signature line (set by the parser)
    uint8_t signature[P256_SIGNATURE_SIZE] = {};

    // The file line of a kind, or null when the manifest has none.
    const MANIFEST_FILE* FileOfKind(int kind) const;
    // The plain package made from base (an installed version or PACKAGE_BASE_*), or null.
    const MANIFEST_PACKAGE* PackageOfBase(uint32_t base) const;
    // The package made from base in exactly that variant (MANIFEST_PACKAGE::features), or null.
    const MANIFEST_PACKAGE* PackageOf(uint32_t base, uint32_t features) const;
};

// Parses a whole manifest. On failure returns false with the reason ("line 4: ...").
bool ParseReleaseManifest(const void* text, size_t size, RELEASE_MANIFEST* manifest, std::string* error);

// The text the signature covers: every line before the signature line, in the manifest's
// format (formats 2 and 3 write `packages`: cumulative, full, then "from" ones rising, and
// format 3 each base's variants plain, zstd, delta and then `mirrors`; format 2 only the
// plain ones; format 1 writes `patch`). hasUpdater is taken from updaterVersion.
std::string FormatManifestBody(const RELEASE_MANIFEST& manifest);
// The last line: "signature <hex>\n".
std::string FormatSignatureLine(const uint8_t signature[P256_SIGNATURE_SIZE]);

// The manifest file at path: its first RELEASE_MANIFEST::kMaxSize + 1 bytes, enough for
// the parser to tell a longer file. False when it cannot be read.
bool ReadManifestFile(const std::string& path, std::string* text);

// The variant's word in format 3 ("plain", "zstd", "delta"), or null for other features.
const char* PackageVariantName(uint32_t features);

// Why url cannot be a mirror line ("" when it can): http:// or https://, a host without a
// user part, printable ASCII without blanks, at most kMaxMirrorLength bytes.
std::string MirrorUrlProblem(const std::string& url);
