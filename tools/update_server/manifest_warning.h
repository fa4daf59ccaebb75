// update-server --manifest FILE: a studio that publishes the signed manifest before the
// mirror serves the same release sees it in the log at once, and one whose manifest is
// about to expire sees it before its players do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update_server/release.h"

// A week's notice: enough to sign and publish a new manifest.
constexpr int64_t kManifestExpiryWarningSeconds = 7 * 86400;

// Reads the manifest at path (nothing when path is empty) and logs one warning line per
// difference from release, or why the manifest cannot be read, has expired or expires
// within kManifestExpiryWarningSeconds of now (seconds since 1970); one line saying so
// when they match. The signature is not checked: the server holds no key. Returns the
// manifest's expiry when it has one.
std::optional<int64_t> WarnIfManifestDiffers(const std::string& path, const RELEASE& release, int64_t now);
