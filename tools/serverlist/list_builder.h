// The server list the launcher reads, built from the fleet and one round of load polls:
//
//     count;address;port;load;state;x;y;address;port;load;state;x;y;...
//
// every field ended by ';' (a line end after the last one, which the launcher ignores).
// load = connections * 1000 / capacity, rounded down; state 0 for a healthy host and 15
// (never chosen) for a host that is draining, did not answer, answered garbage, or does
// not serve the fleet's release (fleet_release.h): below it (lagging) or off it (a higher
// game version, or another updater than the manifest's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "release/release_manifest.h"
#include "serverlist/fleet_file.h"
#include "serverlist/load_poller.h"

enum HOST_CONDITION {
    HOST_HEALTHY,
    HOST_DRAINING,
    HOST_LAGGING,
    HOST_UNREACHABLE,
    HOST_OFF_RELEASE,
    HOST_GARBLED,
};

struct LISTED_HOST {
    HOST_CONDITION condition = HOST_UNREACHABLE;
    int64_t load = 0;
    int state = 0;
    std::string why; // "draining", "game version 6 below 7", "connect: Connection refused"
};

struct SERVER_LIST {
    static constexpr int kStateOpen = 0;
    static constexpr int kStateClosed = 15;
    // The launcher never picks a load of 1000000 or more.
    static constexpr int64_t kMaxLoad = 999999;

    std::vector<LISTED_HOST> hosts; // in the fleet's order
    std::string text;
    size_t answered = 0;
    size_t eligible = 0;
};

// With manifest (the studio's, verified) a healthy host serves exactly its versions;
// without, the game version most capacity serves.
SERVER_LIST BuildServerList(const std::vector<FLEET_HOST>& fleet, const std::vector<HOST_POLL>& polls,
                            const RELEASE_MANIFEST* manifest = nullptr);

// "healthy, load 300 (3 of 10 clients)", "unreachable (connect: Connection refused)".
std::string DescribeCondition(const LISTED_HOST& host);
