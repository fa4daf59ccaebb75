// update-server --manifest FILE: a studio that publishes the signed manifest before the
// mirror serves the same release sees it in the log at once.
#pragma once

#include <cstdint>
#include <string>

#include "update_server/release.h"

// Reads the manifest at path (nothing when path is empty) and logs one warning line per
// difference from release, or why the manifest cannot be read or is expired at now
// (seconds since 1970); one line saying so when they match. The signature is not
// checked: the server holds no key.
void WarnIfManifestDiffers(const std::string& path, const RELEASE& release, int64_t now);
