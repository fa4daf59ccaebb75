// Whether a fetched manifest can be trusted: well formed, signed by the studio's key,
// not expired.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "release/release_manifest.h"

// Parses the manifest, checks its signature and then its expiry against now (seconds
// since 1970-01-01T00:00:00Z; expired from the expiry second on). On failure returns
// false with the reason: "malformed: line 3: ...", "bad signature", "expired on
// 2027-01-07T00:00:00Z".
bool AcceptReleaseManifest(const void* text, size_t size, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], int64_t now,
                           RELEASE_MANIFEST* manifest, std::string* reason);
