#include "release/release_key.h"

#include "velgrim_release_key.h"

namespace {

const uint8_t kReleaseKey[P256_PUBLIC_KEY_SIZE] = {VELGRIM_RELEASE_KEY_BYTES};

} // namespace

bool HasReleaseKey()
{
    return VELGRIM_HAS_RELEASE_KEY != 0;
}

const uint8_t* ReleasePublicKey()
{
    return HasReleaseKey() ? kReleaseKey : nullptr;
}

const char* ReleaseManifestPath()
{
    return VELGRIM_MANIFEST_PATH;
}

const char* ReleaseManifest2Path()
{
    return VELGRIM_MANIFEST2_PATH;
}

const char* ReleaseManifest3Path()
{
    return VELGRIM_MANIFEST3_PATH;
}
