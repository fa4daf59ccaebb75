// serverlist: publishes the update-server list from the fleet's status ports.
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/control_signals.h"
#include "platform/socket_poll.h"
#include "platform/sockets.h"
#include "serverlist/fleet_file.h"
#include "serverlist/list_file.h"
#include "serverlist/list_publisher.h"
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
    std::vector<FLEET_HOST> fleet;
    if (!LoadFleet(options.fleetFile, &fleet, &error)) {
        std::fprintf(stderr, "serverlist: %s\n", error.c_str());
        return 2;
    }
    WSADATA data;
    WSAStartup(0x0101, &data);
    if (!InstallControlHandlers()) {
        std::fprintf(stderr, "serverlist: cannot install the signal handlers\n");
        return 1;
    }

    LIST_PUBLISHER publisher(fleet, options.listFile);
    const uint64_t intervalMs = options.intervalSeconds * 1000;
    const int pollMs = static_cast<int>(std::min<uint64_t>(LIST_PUBLISHER::kMaxPollMs, intervalMs));
    if (!options.once)
        LogLine("publishing %s for %zu host(s) every %llu s", options.listFile.c_str(), fleet.size(),
                static_cast<unsigned long long>(options.intervalSeconds));
    for (;;) {
        const uint64_t started = MonotonicMs();
        const bool published = publisher.Round(pollMs, ControlWakeFd());
        if (options.once)
            return published ? 0 : 1;
        // Sleep out the interval, woken by signals.
        for (;;) {
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
            const uint64_t now = MonotonicMs();
            if (now >= started + intervalMs)
                break;
            SOCKET_POLL_ENTRY wake = {ControlWakeFd(), true, false};
            SocketPollMany(&wake, 1, static_cast<int>(started + intervalMs - now));
            DrainControlWake();
        }
    }
}
