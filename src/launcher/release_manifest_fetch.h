// The signed release manifest as the launcher takes it: fetched from the web host that
// published the server list, and held against the update server's version answer. A
// manifest that cannot be had or trusted means no update this time, never an untrusted one.
#pragma once

#include <cstdint>
#include <string>

#include "release/release_manifest.h"

// Fetches path (starting with "/") from host:port and accepts it under publicKey at now
// (seconds since 1970-01-01T00:00:00Z). On failure false with the reason: "no answer from
// host:port", "not an HTTP answer", "missing (HTTP 404)", "not served (HTTP status 500)",
// "cut short (40 of 400 bytes)", "cut short (40 bytes, no last chunk)", "larger than 1024 bytes", or those of
// AcceptReleaseManifest ("malformed: ...", "bad signature", "expired on ...").
bool FetchReleaseManifest(const char* host, int port, const char* path, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE],
                          int64_t now, RELEASE_MANIFEST* manifest, std::string* reason);

// The newest manifest the web host publishes: format 3 at path3 (every package and variant,
// the mirrors), and when that cannot be fetched or accepted format 2 at path2 (the plain
// packages), then format 1 at path1 (the cumulative package only). The reason, on failure,
// is format 1's; the others' are traced.
bool FetchNewestReleaseManifest(const char* host, int port, const char* path3, const char* path2, const char* path1,
                                const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], int64_t now,
                                RELEASE_MANIFEST* manifest, std::string* reason);

// True when the update server's answer carries the manifest's versions; otherwise false
// with the reason (the mirror is behind, or lying).
bool ServerMatchesManifest(const RELEASE_MANIFEST& manifest, uint32_t gameVersion, uint32_t updaterVersion,
                           std::string* reason);
