// Asks every update server of the fleet for its load line (GET /load on its status port),
// all at once, within one bound for the whole round.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "protocol/server_load.h"
#include "serverlist/fleet_file.h"

struct HOST_POLL {
    bool answered = false;
    SERVER_LOAD load;
    // It answered, but not with a load line of numbers in range.
    bool garbled = false;
    std::string problem; // why there is no load, when there is none
};

// The most a load line may claim: update-server's --capacity goes up to 10,000,000, and
// no host holds more connections than that. Larger numbers are a broken or lying host.
constexpr uint64_t kMaxReportedCapacity = 10000000;
constexpr uint64_t kMaxReportedConnections = 10000000;

// One HOST_POLL per host, in the fleet's order. Waits at most timeoutMs in all. A readable
// stopFd (when valid) ends the round early and sets *interrupted: the polls are then
// partial and must not be published.
std::vector<HOST_POLL> PollFleet(const std::vector<FLEET_HOST>& hosts, int timeoutMs, SOCKET stopFd,
                                 bool* interrupted);

// Reads a whole HTTP response to GET /load: status 200 and a load line as its body, its
// numbers in range. The problem quotes the answer with its unprintable bytes escaped.
bool ReadLoadResponse(const std::string& response, SERVER_LOAD* load, std::string* problem);
