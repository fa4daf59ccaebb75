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
    std::vector<uint32_t> firstSeen;
    for (const HOST_POLL& p : polls) {
        if (!p.answered || p.load.draining)
            continue;
        if (capacityOf.count(p.load.gameVersion) == 0)
            firstSeen.push_back(p.load.gameVersion);
        capacityOf[p.load.gameVersion] += p.load.capacity;
    }
    FLEET_RELEASE release;
    for (uint32_t version : firstSeen) {
        if (!release.known || capacityOf[version] > capacityOf[release.gameVersion]) {
            release.known = true;
            release.gameVersion = version;
        }
    }
    return release;
}
