#include "update_server/server_options.h"

#include "common/decimal_text.h"
#include "platform/sockets.h"

const char* ServerUsage()
{
    return "Usage: update-server [options] RELEASE_DIR\n"
           "\n"
           "Serves the update conversation of the Velgrim launcher: the version answer, the\n"
           "patch (Velgrim_patch.rxpack) and the updater (UpdaterNew.exe) of RELEASE_DIR.\n"
           "\n"
           "Options:\n"
           "  --port N           TCP port to listen on (default 6527; 0 picks a free one,\n"
           "                     named in the log)\n"
           "  --listen ADDR      IPv4 address to listen on (default: all interfaces)\n"
           "  --budget-mib N     file data held for sending (queues and socket buffers),\n"
           "                     all clients together, in MiB (default 256)\n"
           "  --idle-timeout S   drop a client silent for S seconds (default 60)\n"
           "  --rate-kib N       send each client at most N KiB of file data a second\n"
           "                     (default: no cap)\n"
           "  --manifest FILE    the signed release manifest the web host publishes: at\n"
           "                     start and on every reload, warn when RELEASE_DIR does not\n"
           "                     match it (versions, file sizes and SHA-256) or when it\n"
           "                     expires within 7 days; /metrics shows its expiry\n"
           "  --status-listen ADDR:PORT\n"
           "                     answer HTTP GET /metrics (Prometheus) and /load there\n"
           "                     (default: no status port; port 0 picks a free one)\n"
           "  --capacity N       clients this host is meant to carry, for /load\n"
           "                     (default 1000)\n"
           "  --drain            start draining: serve, but ask for no new players\n"
           "  --help             show this text\n"
           "  --version          show the version and what the build was configured with\n"
           "\n"
           "RELEASE_DIR holds:\n"
           "  release.conf          'key = value' lines: game_version (required),\n"
           "                        updater_version (default 0; 1024 and above offers the\n"
           "                        updater); info_word is accepted from older releases and\n"
           "                        not sent (the version answer's first dword announces\n"
           "                        this server's extensions); '#' starts a comment\n"
           "  info.txt              optional text shown by the launcher (no NUL, <= 64 KiB)\n"
           "  Velgrim_patch.rxpack  the cumulative patch (required; plain entries)\n"
           "  Velgrim_patch.from-V.rxpack\n"
           "                        optional: the patch for players at version V (decimal,\n"
           "                        below game_version), as 'rxpack release' writes it\n"
           "  Velgrim_patch.full.rxpack\n"
           "                        optional: every file of the release, for players at a\n"
           "                        version no package is made from\n"
           "  UpdaterNew.exe        the updater (required when updater_version >= 1024)\n"
           "Files are read from disk as they are sent; replace them by rename.\n"
           "\n"
           "SIGHUP reloads RELEASE_DIR without dropping clients (a transfer under way keeps\n"
           "the file it started with); SIGUSR1 toggles draining; SIGTERM or SIGINT stops the\n"
           "server. One line per\n"
           "connection and per transfer goes to standard error. Exit status: 0 after a\n"
           "stop, 1 when the port cannot be had, 2 for a bad command line or release.\n";
}

namespace {

// "ADDR:PORT" with an IPv4 address.
bool ParseAddressAndPort(const std::string& name, const std::string& text, unsigned long* address,
                         unsigned short* port, std::string* error)
{
    const size_t colon = text.rfind(':');
    in_addr parsed;
    uint32_t number = 0;
    if (colon == std::string::npos || inet_pton(AF_INET, text.substr(0, colon).c_str(), &parsed) != 1 ||
        !ParseUInt32(text.substr(colon + 1), &number) || number > 65535) {
        *error = name + " needs an IPv4 address and a port such as 127.0.0.1:9465, not '" + text + "'";
        return false;
    }
    *address = ntohl(parsed.s_addr);
    *port = static_cast<unsigned short>(number);
    return true;
}

bool ParseNumber(const std::string& name, const std::string& text, uint64_t low, uint64_t high, uint64_t* value,
                 std::string* error)
{
    uint32_t v = 0;
    if (!ParseUInt32(text, &v) || v < low || v > high) {
        *error = name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                 ", not '" + text + "'";
        return false;
    }
    *value = v;
    return true;
}

} // namespace

bool ParseServerOptions(int argc, const char* const* argv, SERVER_OPTIONS* options, std::string* error)
{
    SERVER_OPTIONS result;
    bool haveDir = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            continue;
        }
        if (arg == "--version") {
            result.version = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            if (arg == "--" && i + 1 < argc)
                arg = argv[++i];
            if (haveDir) {
                *error = "more than one release directory given ('" + result.releaseDir + "' and '" + arg + "')";
                return false;
            }
            result.releaseDir = arg;
            haveDir = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (name == "--port" || name == "--listen" || name == "--budget-mib" || name == "--idle-timeout" ||
                   name == "--rate-kib" || name == "--manifest" || name == "--status-listen" ||
                   name == "--capacity") {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        uint64_t number = 0;
        if (name == "--port") {
            if (!ParseNumber(name, value, 0, 65535, &number, error))
                return false;
            result.port = static_cast<unsigned short>(number);
        } else if (name == "--budget-mib") {
            if (!ParseNumber(name, value, 1, 1u << 20, &result.budgetMiB, error))
                return false;
        } else if (name == "--idle-timeout") {
            if (!ParseNumber(name, value, 1, 7 * 24 * 3600, &result.idleTimeoutSeconds, error))
                return false;
        } else if (name == "--rate-kib") {
            if (!ParseNumber(name, value, 1, 4u << 20, &result.rateKiB, error))
                return false;
        } else if (name == "--manifest") {
            if (value.empty()) {
                *error = "--manifest needs a file name";
                return false;
            }
            result.manifestPath = value;
        } else if (name == "--status-listen") {
            if (!ParseAddressAndPort(name, value, &result.statusAddress, &result.statusPort, error))
                return false;
            result.statusListen = value;
        } else if (name == "--capacity") {
            if (!ParseNumber(name, value, 1, 10000000, &result.capacity, error))
                return false;
        } else if (name == "--drain" && equals == std::string::npos) {
            result.drain = true;
        } else if (name == "--listen") {
            in_addr address;
            if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
                *error = "--listen needs an IPv4 address such as 127.0.0.1, not '" + value + "'";
                return false;
            }
            result.listen = value;
            result.listenAddress = ntohl(address.s_addr);
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (!result.help && !result.version && !haveDir) {
        *error = "no release directory given";
        return false;
    }
    // The players' port never answers status requests, and a status client never gets
    // the players' conversation.
    const bool sameAddress = result.statusAddress == result.listenAddress || result.statusAddress == INADDR_ANY ||
                             result.listenAddress == INADDR_ANY;
    if (!result.statusListen.empty() && result.statusPort != 0 && result.statusPort == result.port && sameAddress) {
        *error = "--status-listen " + result.statusListen + " is the players' port; give the status port its own";
        return false;
    }
    *options = result;
    return true;
}
