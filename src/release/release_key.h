// The studio's release key and the manifest's path on the web host, as this launcher was
// built with them (-DVELGRIM_RELEASE_KEY=release.pub, -DVELGRIM_MANIFEST_PATH=...).
#pragma once

#include <cstdint>

#include "platform/crypto.h"

// False for a build without a key: such a launcher fetches and checks no manifest.
bool HasReleaseKey();
// X || Y of the key (P256_PUBLIC_KEY_SIZE bytes), or null without one.
const uint8_t* ReleasePublicKey();
// "/velgrim_release.txt" unless the build says otherwise; on the web host and port of
// the server list.
const char* ReleaseManifestPath();
// The format-2 manifest beside it: "/velgrim_release2.txt" unless the build says otherwise
// (-DVELGRIM_MANIFEST2_PATH=...).
const char* ReleaseManifest2Path();
// The format-3 manifest beside it: "/velgrim_release3.txt" unless the build says otherwise
// (-DVELGRIM_MANIFEST3_PATH=...).
const char* ReleaseManifest3Path();
