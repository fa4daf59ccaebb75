// The release every host taking players must serve, so that no single host decides it.
// With the studio's signed manifest it is the manifest's: game and updater version both.
// Without one it is the game version served by the largest share of the fleet's capacity
// (hosts taking players only); a tie goes to the higher version, so that a roll-out moves
// on once half the capacity has the new release. A host above it is as wrong as one
// below: one host misconfigured with a higher version cannot close every other host and
// draw all players to itself. (Capacity is what each host reports: against a host that
// lies, only the manifest helps.)
#pragma once

#include <cstdint>
#include <vector>

#include "release/release_manifest.h"
#include "serverlist/load_poller.h"

struct FLEET_RELEASE {
    bool known = false; // false: no host takes players, nothing to compare
    bool fromManifest = false;
    uint32_t gameVersion = 0;
    uint32_t updaterVersion = 0; // compared only with a manifest
};

FLEET_RELEASE ManifestRelease(const RELEASE_MANIFEST& manifest);
FLEET_RELEASE MajorityRelease(const std::vector<HOST_POLL>& polls);
