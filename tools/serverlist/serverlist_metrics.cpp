#include "serverlist/serverlist_metrics.h"

namespace {

void One(std::string* page, const char* name, const char* type, const char* help, uint64_t value)
{
    const std::string full = std::string("velgrim_serverlist_") + name;
    *page += "# HELP " + full + " " + help + "\n# TYPE " + full + " " + type + "\n" + full + " " +
             std::to_string(value) + "\n";
}

} // namespace

std::string RenderServerlistMetrics(const SERVERLIST_METRICS& m)
{
    std::string page;
    One(&page, "rounds_total", "counter", "Rounds of polling the fleet run to their end.", m.rounds);
    One(&page, "hosts", "gauge", "Hosts in the fleet file.", m.hosts);
    One(&page, "hosts_answered", "gauge", "Hosts that answered /load in the last round.", m.answered);
    One(&page, "hosts_open", "gauge", "Hosts listed as taking players (state 0) in the last round.", m.eligible);
    One(&page, "last_round_timestamp_seconds", "gauge", "When the last round ended, in seconds since 1970.",
        static_cast<uint64_t>(m.lastRound < 0 ? 0 : m.lastRound));
    if (m.manifestGiven) {
        One(&page, "manifest_fresh", "gauge",
            "1 while the manifest read this round checks; 0 while the last good one stands in, or none.",
            m.manifestFresh ? 1 : 0);
        One(&page, "manifest_held", "gauge", "1 while the hosts are held to a signed manifest.", m.manifestHeld ? 1 : 0);
        One(&page, "manifest_failures_total", "counter", "Reads of the manifest that did not give one that checks.",
            m.manifestFailures);
        One(&page, "manifest_game_version", "gauge", "Game version of the manifest the hosts are held to.",
            m.heldGameVersion);
    }
    return page;
}
