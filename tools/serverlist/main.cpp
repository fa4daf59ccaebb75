// serverlist: publishes the update-server list from the fleet's status ports.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "common/build_info.h"
#include "platform/clock.h"
#include "platform/control_signals.h"
#include "platform/socket_poll.h"
#include "platform/sockets.h"
#include "rxpack/release_keys.h"
#include "serverlist/fleet_file.h"
#include "serverlist/list_file.h"
#include "serverlist/list_publisher.h"
#include "serverlist/manifest_source.h"
#include "serverlist/serverlist_options.h"

namespace {

bool LoadFleet(const std::string& path, std::vector<FLEET_HOST>* fleet, std::string* error)
{
    std::string text;
    if (!ReadTextFile(path, &text)) {
        *error = path + ": cannot be read";
        return false;
    }
    if (!ParseFleetFile(text, fleet, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    SERVERLIST_OPTIONS options;
    std::string error;
    if (!ParseServerlistOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "serverlist: %s\nTry 'serverlist --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ServerlistUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(VersionText("serverlist", BuildHasReleaseKey()).c_str(), stdout);
        return 0;
    }
    std::vector<FLEET_HOST> fleet;
    if (!LoadFleet(options.fleetFile, &fleet, &error)) {
        std::fprintf(stderr, "serverlist: %s\n", error.c_str());
        return 2;
    }
    std::unique_ptr<MANIFEST_SOURCE> manifest;
    if (!options.manifestFile.empty()) {
        uint8_t key[P256_PUBLIC_KEY_SIZE];
        if (!LoadPublicKeyPem(options.publicKeyFile, key, &error)) {
            std::fprintf(stderr, "serverlist: %s\n", error.c_str());
            return 2;
        }
        manifest = std::make_unique<MANIFEST_SOURCE>(options.manifestFile, key);
        // A mistyped path would lose the signed protection without a word: refused here.
        std::string problem;
        if (manifest->Read(static_cast<int64_t>(std::time(nullptr)), &problem) == nullptr &&
            problem.rfind("cannot be read", 0) == 0) {
            std::fprintf(stderr, "serverlist: --manifest %s %s\n", options.manifestFile.c_str(), problem.c_str());
            return 2;
        }
    }
    WSADATA data;
    WSAStartup(0x0101, &data);
    if (!InstallControlHandlers()) {
        std::fprintf(stderr, "serverlist: cannot install the signal handlers\n");
        return 1;
    }

    LIST_PUBLISHER publisher(fleet, options.listFile, std::move(manifest));
    const uint64_t intervalMs = options.intervalSeconds * 1000;
    const int pollMs = static_cast<int>(std::min<uint64_t>(LIST_PUBLISHER::kMaxPollMs, intervalMs));
    if (!options.once)
        LogLine("publishing %s for %zu host(s) every %llu s", options.listFile.c_str(), fleet.size(),
                static_cast<unsigned long long>(options.intervalSeconds));
    uint64_t nextRound = MonotonicMs();
    std::string metricsError; // logged once until it changes
    for (;;) {
        // Signals are taken between rounds. A wake that came before this point is drained
        // here, so it cannot cut the coming round short; one that comes during the round
        // cuts it, and the round is then discarded and run again.
        DrainControlWake();
        if (StopRequested()) {
            LogLine("stopped");
            return 0;
        }
        if (TakeControlRequest(CONTROL_RELOAD)) {
            std::vector<FLEET_HOST> fresh;
            if (LoadFleet(options.fleetFile, &fresh, &error)) {
                publisher.SetFleet(fresh);
                LogLine("read %s again: %zu host(s)", options.fleetFile.c_str(), fresh.size());
            } else {
                LogLine("reading the fleet again failed, keeping the previous one: %s", error.c_str());
            }
        }
        // SIGUSR1 means nothing here; it only wakes.
        TakeControlRequest(CONTROL_TOGGLE);
        const uint64_t now = MonotonicMs();
        if (now < nextRound) {
            SOCKET_POLL_ENTRY wake = {ControlWakeFd(), true, false};
            SocketPollMany(&wake, 1, static_cast<int>(nextRound - now));
            continue;
        }
        const ROUND_OUTCOME outcome = publisher.Round(pollMs, ControlWakeFd());
        if (outcome == ROUND_DISCARDED)
            continue;
        if (!options.metricsFile.empty()) {
            std::string failed;
            if (!ReplaceFileAtomically(options.metricsFile, RenderServerlistMetrics(publisher.Metrics()), &failed)) {
                if (failed != metricsError)
                    LogLine("metrics: %s", failed.c_str());
            }
            metricsError = failed;
        }
        if (options.once)
            return outcome == ROUND_PUBLISHED ? 0 : 1;
        nextRound = now + intervalMs;
    }
}
