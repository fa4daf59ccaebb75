// Packages for tests that only need something update-server will serve, and their lines
// in a release manifest.
#pragma once

#include <string>

#include "release/release_manifest.h"

// A package with no entries, as another tool than rxpack could write it (48 zero header
// bytes, so no magic and no checksums), followed by tail: whatever bytes a transfer test
// wants to carry. It passes the checks before a patch is served or applied.
inline std::string BarePackage(const std::string& tail = std::string())
{
    return std::string(48, '\0') + tail;
}

// The manifest's file line for these bytes: their size and SHA-256.
inline MANIFEST_FILE ManifestFileOf(const std::string& bytes)
{
    MANIFEST_FILE file;
    file.size = static_cast<uint32_t>(bytes.size());
    Sha256(bytes.data(), bytes.size(), file.sha256);
    return file;
}

// The manifest's package line for these bytes, made from base (PACKAGE_BASE_* or a version).
inline MANIFEST_PACKAGE ManifestPackageOf(const std::string& bytes, uint32_t base)
{
    MANIFEST_PACKAGE package;
    package.base = base;
    package.size = bytes.size();
    Sha256(bytes.data(), bytes.size(), package.sha256);
    return package;
}
