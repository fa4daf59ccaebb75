#include "serverlist/list_builder.h"

#include <algorithm>

#include "serverlist/fleet_release.h"

namespace {

// Whether a host taking players serves the fleet's release; otherwise the condition and why.
bool ServesRelease(const SERVER_LOAD& load, const FLEET_RELEASE& release, LISTED_HOST* host)
{
    if (!release.known)
        return true;
    const std::string theirs = std::to_string(release.gameVersion);
    const std::string fleet = release.fromManifest ? "the manifest's " + theirs : theirs;
    if (load.gameVersion < release.gameVersion) {
        host->condition = HOST_LAGGING;
        host->why = "game version " + std::to_string(load.gameVersion) + " below " + fleet;
    } else if (load.gameVersion > release.gameVersion) {
        host->condition = HOST_OFF_RELEASE;
        host->why = "game version " + std::to_string(load.gameVersion) + " above " + fleet;
    } else if (release.fromManifest && load.updaterVersion != release.updaterVersion) {
        host->condition = HOST_OFF_RELEASE;
        host->why = "updater version " + std::to_string(load.updaterVersion) + ", the manifest's " +
                    std::to_string(release.updaterVersion);
    } else {
        return true;
    }
    return false;
}

} // namespace

SERVER_LIST BuildServerList(const std::vector<FLEET_HOST>& fleet, const std::vector<HOST_POLL>& polls,
                            const RELEASE_MANIFEST* manifest)
{
    SERVER_LIST list;
    const FLEET_RELEASE release = manifest != nullptr ? ManifestRelease(*manifest) : MajorityRelease(polls);

    list.text = std::to_string(fleet.size()) + ";";
    for (size_t i = 0; i < fleet.size(); ++i) {
        const HOST_POLL& p = polls[i];
        LISTED_HOST host;
        if (!p.answered) {
            host.condition = p.garbled ? HOST_GARBLED : HOST_UNREACHABLE;
            host.why = p.problem;
        } else {
            ++list.answered;
            host.load = static_cast<int64_t>(std::min<uint64_t>(p.load.connections * 1000 / p.load.capacity,
                                                                SERVER_LIST::kMaxLoad));
            if (p.load.draining) {
                host.condition = HOST_DRAINING;
                host.why = "draining";
            } else if (ServesRelease(p.load, release, &host)) {
                host.condition = HOST_HEALTHY;
                host.why = std::to_string(p.load.connections) + " of " + std::to_string(p.load.capacity) +
                           " clients, game version " + std::to_string(p.load.gameVersion);
            }
        }
        host.state = host.condition == HOST_HEALTHY ? SERVER_LIST::kStateOpen : SERVER_LIST::kStateClosed;
        list.eligible += host.condition == HOST_HEALTHY ? 1 : 0;
        const FLEET_HOST& f = fleet[i];
        list.text += f.address + ";" + std::to_string(f.port) + ";" + std::to_string(host.load) + ";" +
                     std::to_string(host.state) + ";" + f.x + ";" + f.y + ";";
        list.hosts.push_back(host);
    }
    list.text += "\n";
    return list;
}

std::string DescribeCondition(const LISTED_HOST& host)
{
    switch (host.condition) {
    case HOST_HEALTHY:
        return "healthy, load " + std::to_string(host.load) + " (" + host.why + ")";
    case HOST_DRAINING:
        return "draining: state 15";
    case HOST_LAGGING:
        return "lagging (" + host.why + "): state 15";
    case HOST_OFF_RELEASE:
        return "not on the fleet's release (" + host.why + "): state 15";
    case HOST_GARBLED:
        return "bad load answer (" + host.why + "): state 15";
    case HOST_UNREACHABLE:
        break;
    }
    return "unreachable (" + host.why + "): state 15";
}
