// The command line of serverlist.
#pragma once

#include <cstdint>
#include <string>

struct SERVERLIST_OPTIONS {
    uint64_t intervalSeconds = 5;
    bool once = false;
    bool help = false;
    bool version = false;
    std::string fleetFile;
    std::string listFile;
    std::string manifestFile; // --manifest: the signed release manifest, checked with
    std::string publicKeyFile; // --pub (both or neither)
    std::string metricsFile;   // --metrics: Prometheus text, rewritten each round
};

// Parses argv[1..] ("--interval 5" or "--interval=5"). On failure returns false with a
// message for the user.
bool ParseServerlistOptions(int argc, const char* const* argv, SERVERLIST_OPTIONS* options, std::string* error);

// The --help text.
const char* ServerlistUsage();
