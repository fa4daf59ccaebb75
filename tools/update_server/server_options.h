// The command line of update-server.
#pragma once

#include <cstdint>
#include <string>

struct SERVER_OPTIONS {
    unsigned short port = 6527;
    std::string listen;                 // empty: all interfaces
    unsigned long listenAddress = 0;    // host byte order; INADDR_ANY when listen is empty
    uint64_t budgetMiB = 256;
    uint64_t idleTimeoutSeconds = 60;
    uint64_t rateKiB = 0;               // per client, KiB/s; 0: no cap
    std::string statusListen;           // "ADDR:PORT"; empty: no status port
    unsigned long statusAddress = 0;    // host byte order
    unsigned short statusPort = 0;
    uint64_t capacity = 1000;           // clients the host is meant to carry
    bool drain = false;                 // start draining
    std::string releaseDir;
    std::string manifestPath;           // --manifest: compared with the release, warnings only
    bool help = false;
    bool version = false;
};

// Parses argv[1..]. "--name value" and "--name=value" are both accepted. On failure
// returns false with a message for the user.
bool ParseServerOptions(int argc, const char* const* argv, SERVER_OPTIONS* options, std::string* error);

// The --help text.
const char* ServerUsage();
