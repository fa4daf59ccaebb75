#include "release/signed_manifest.h"

#include "release/utc_time.h"

bool AcceptReleaseManifest(const void* text, size_t size, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], int64_t now,
                           RELEASE_MANIFEST* manifest, std::string* reason)
{
    RELEASE_MANIFEST parsed;
    std::string error;
    if (!ParseReleaseManifest(text, size, &parsed, &error)) {
        *reason = "malformed: " + error;
        return false;
    }
    if (!VerifyP256Sha256(publicKey, text, parsed.signedSize, parsed.signature)) {
        *reason = "bad signature";
        return false;
    }
    if (parsed.hasExpiry && now >= parsed.expires) {
        *reason = "expired on " + FormatUtcTime(parsed.expires);
        return false;
    }
    *manifest = parsed;
    return true;
}
