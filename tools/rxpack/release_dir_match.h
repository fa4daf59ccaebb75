// How the packages a release directory holds differ from those a format-2 manifest names:
// each named package must be there with its size and SHA-256, and every package there
// must be named (a launcher refuses one the manifest does not list).
#pragma once

#include <string>
#include <vector>

#include "release/release_manifest.h"

// One line per difference; empty when they match.
std::vector<std::string> ComparePackagesWithManifest(const std::string& dir, const RELEASE_MANIFEST& manifest);
