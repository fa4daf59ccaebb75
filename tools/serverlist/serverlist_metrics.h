// What serverlist tells a monitor, as Prometheus text (for node_exporter's textfile
// collector): the fleet as the last round saw it, and whether the signed manifest read
// now is the one the hosts are held to.
#pragma once

#include <cstdint>
#include <string>

struct SERVERLIST_METRICS {
    uint64_t rounds = 0;          // rounds run to their end
    uint64_t hosts = 0;           // in the fleet file
    uint64_t answered = 0;        // answered /load in the last round
    uint64_t eligible = 0;        // listed with state 0 in the last round
    bool manifestGiven = false;   // --manifest
    bool manifestFresh = false;   // the manifest read this round checks
    bool manifestHeld = false;    // hosts are held to a manifest (this one or the last good)
    uint64_t manifestFailures = 0; // reads that did not give a manifest that checks
    uint32_t heldGameVersion = 0; // the manifest's game version, while held
    int64_t lastRound = 0;        // when the last round ended, seconds since 1970
};

std::string RenderServerlistMetrics(const SERVERLIST_METRICS& m);
