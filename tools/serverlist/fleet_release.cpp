#include "serverlist/fleet_release.h"

#include <map>

FLEET_RELEASE ManifestRelease(const RELEASE_MANIFEST& manifest)
{
    FLEET_RELEASE release;
    release.known = true;
    release.fromManifest = true;
    release.gameVersion = manifest.gameVersion;
    release.updaterVersion = manifest.updaterVersion;
    return release;
}

FLEET_RELEASE MajorityRelease(const std::vector<HOST_POLL>& polls)
{
    // Capacities are bounded when read (kMaxReportedCapacity): the sums cannot overflow.
    std::map<uint32_t, uint64_t> capacityOf;
    for (const HOST_POLL& p : polls)
        if (p.answered && !p.load.draining)
            capacityOf[p.load.gameVersion] += p.load.capacity;
    // Versions in rising order: a tie goes to the later one, as a roll-out half done does.
    FLEET_RELEASE release;
    uint64_t most = 0;
    for (const auto& [version, capacity] : capacityOf) {
        if (!release.known || capacity >= most) {
            release.known = true;
            release.gameVersion = version;
            most = capacity;
        }
    }
    return release;
}
