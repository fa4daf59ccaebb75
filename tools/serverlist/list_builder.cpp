#include "serverlist/list_builder.h"

#include <algorithm>

SERVER_LIST BuildServerList(const std::vector<FLEET_HOST>& fleet, const std::vector<HOST_POLL>& polls)
{
    SERVER_LIST list;
    // The release players should get: the newest that a host taking players serves.
    uint32_t newest = 0;
    for (const HOST_POLL& p : polls)
        if (p.answered && !p.load.draining)
            newest = std::max(newest, p.load.gameVersion);

    list.text = std::to_string(fleet.size()) + ";";
    for (size_t i = 0; i < fleet.size(); ++i) {
        const HOST_POLL& p = polls[i];
        LISTED_HOST host;
        if (!p.answered) {
            host.condition = HOST_UNREACHABLE;
            host.why = p.problem;
        } else {
            ++list.answered;
            host.load = static_cast<int64_t>(std::min<uint64_t>(p.load.connections * 1000 / p.load.capacity,
                                                                SERVER_LIST::kMaxLoad));
            if (p.load.draining) {
                host.condition = HOST_DRAINING;
                host.why = "draining";
            } else if (p.load.gameVersion < newest) {
                host.condition = HOST_LAGGING;
                host.why = "game version " + std::to_string(p.load.gameVersion) + " below " + std::to_string(newest);
            } else {
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
    case HOST_UNREACHABLE:
        break;
    }
    return "unreachable (" + host.why + "): state 15";
}
