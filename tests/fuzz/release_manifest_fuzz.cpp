// Any bytes as a release manifest: the parser stays in bounds, and whatever it accepts
// is the one spelling of what it read (writing it back gives the same bytes), so no two
// texts can carry the same signed meaning. The check runs under a real key (the test
// vectors'), so that texts near the signed one reach the signature itself: only what the
// key signed may pass.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "release/release_manifest.h"
#include "release/signed_manifest.h"
#include "support/signing_vectors.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RELEASE_MANIFEST manifest;
    std::string error;
    const bool parsed = ParseReleaseManifest(data, size, &manifest, &error);
    Check(parsed == error.empty());
    if (!parsed)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string body = FormatManifestBody(manifest);
    Check(manifest.signedSize == body.size());
    Check(body + FormatSignatureLine(manifest.signature) == text);
    Check(manifest.hasUpdater == (manifest.updaterVersion >= UPDATER_OFFER_MIN_VERSION));
    Check((manifest.FileOfKind(FILE_KIND_UPDATER) != nullptr) == manifest.hasUpdater);
    Check(manifest.FileOfKind(FILE_KIND_PATCH) == &manifest.patch);

    // The whole road a launcher takes, before the vector's expiry.
    static uint8_t key[P256_PUBLIC_KEY_SIZE];
    static const bool keyRead = ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key));
    Check(keyRead);
    RELEASE_MANIFEST accepted;
    if (AcceptReleaseManifest(data, size, key, signing_vectors::kManifestExpires - 1, &accepted, &error))
        Check(FormatManifestBody(accepted) == signing_vectors::kManifestBody);
    return 0;
}
