// How the release a directory offers differs from a release manifest: versions, and the
// size and SHA-256 of each file both offer. Shared by update-server --manifest and rxpack
// verify-release.
#pragma once

#include <string>
#include <vector>

#include "release/release_manifest.h"
#include "update_server/release.h"

// One line per difference ("game_version 8 here, 7 in the manifest"); empty when they
// match. A format-2 manifest's packages are compared each with the one of its base here,
// both ways ("package from 5: in the manifest, not here").
std::vector<std::string> CompareReleaseWithManifest(const RELEASE& release, const RELEASE_MANIFEST& manifest);
