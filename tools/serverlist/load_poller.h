// Asks every update server of the fleet for its load line (GET /load on its status port),
// all at once, within one bound for the whole round.
#pragma once

#include <string>
#include <vector>

#include "platform/sockets.h"
#include "protocol/server_load.h"
#include "serverlist/fleet_file.h"

struct HOST_POLL {
    bool answered = false;
    SERVER_LOAD load;
    std::string problem; // why there is no load, when there is none
};

// One HOST_POLL per host, in the fleet's order. Waits at most timeoutMs in all; a
// readable stopFd (when valid) ends the round early.
std::vector<HOST_POLL> PollFleet(const std::vector<FLEET_HOST>& hosts, int timeoutMs, SOCKET stopFd);

// Reads a whole HTTP response to GET /load: status 200 and a load line as its body.
bool ReadLoadResponse(const std::string& response, SERVER_LOAD* load, std::string* problem);
