#include "serverlist/serverlist_options.h"

#include <vector>

const char* ServerlistUsage()
{
    return "Usage: serverlist [--interval SECONDS] [--once] [--manifest FILE --pub KEY]\n"
           "                  [--metrics FILE] FLEET_FILE LIST_FILE\n"
           "\n"
           "Publishes the list of update servers the Velgrim launcher chooses from. Every\n"
           "few seconds it asks each host of FLEET_FILE for its load (GET /load on the\n"
           "status port update-server opens with --status-listen; all hosts at once, at\n"
           "most 2 s each) and writes LIST_FILE, which the web host serves as\n"
           "/velgrim_load_servers.php, in one step (a temporary file renamed over it).\n"
           "\n"
           "  --interval S   seconds from one round to the next (default 5, 1 to 3600)\n"
           "  --once         one round, then exit (for cron)\n"
           "  --manifest F   the signed release manifest the web host publishes\n"
           "                 (velgrim_release.txt), read each round; it must be readable\n"
           "                 at start, and one that becomes unreadable or does not check\n"
           "                 later is replaced by the last good one until that expires\n"
           "  --pub KEY      the studio's public key (PEM) it must be signed with\n"
           "  --metrics F    after each round, write Prometheus text there (for\n"
           "                 node_exporter's textfile collector): hosts, rounds, and\n"
           "                 whether the manifest read now is the one held to\n"
           "  --help         show this text\n"
           "  --version      show the version and what the build was configured with\n"
           "\n"
           "FLEET_FILE has one line per host ('#' starts a comment line):\n"
           "  address port status-address:status-port x y\n"
           "e.g. 'patch1.example.com 6527 10.0.0.11:9465 0 0'. address and port are what\n"
           "the launcher connects to; x and y are published as they are.\n"
           "\n"
           "A host's load is its connections * 1000 / its capacity. Its state is 0, or 15\n"
           "(never chosen) when it is draining, does not answer, answers with anything but\n"
           "a load line of sane numbers, or does not serve the fleet's release: with\n"
           "--manifest exactly the manifest's game and updater versions (while it is\n"
           "signed and not expired), otherwise the game version that hosts with the\n"
           "largest share of capacity serve (a tie goes to the higher one). When no\n"
           "host answers, the last list is kept. SIGHUP reads FLEET_FILE again; SIGTERM or\n"
           "SIGINT stops; a signal during a round discards that round. One line per change\n"
           "goes to standard error.\n"
           "\n"
           "Exit status: 0 after a stop, or after --once wrote the list; 1 when --once\n"
           "found no host answering or could not write the list; 2 for a bad command line\n"
           "or fleet file.\n";
}

bool ParseServerlistOptions(int argc, const char* const* argv, SERVERLIST_OPTIONS* options, std::string* error)
{
    SERVERLIST_OPTIONS result;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
        } else if (arg == "--version") {
            result.version = true;
        } else if (arg == "--once") {
            result.once = true;
        } else if (arg == "--manifest" || arg.compare(0, 11, "--manifest=") == 0 || arg == "--pub" ||
                   arg.compare(0, 6, "--pub=") == 0 || arg == "--metrics" || arg.compare(0, 10, "--metrics=") == 0) {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            std::string value;
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            if (value.empty()) {
                *error = name + " needs a file name";
                return false;
            }
            (name == "--manifest" ? result.manifestFile
                                  : name == "--pub" ? result.publicKeyFile : result.metricsFile) = value;
        } else if (arg == "--interval" || arg.compare(0, 11, "--interval=") == 0) {
            std::string value;
            if (arg == "--interval") {
                if (i + 1 >= argc) {
                    *error = "--interval needs a value";
                    return false;
                }
                value = argv[++i];
            } else {
                value = arg.substr(11);
            }
            uint64_t seconds = 0;
            bool digits = !value.empty() && value.size() <= 4;
            for (char c : value) {
                digits = digits && c >= '0' && c <= '9';
                seconds = seconds * 10 + static_cast<uint64_t>(c - '0');
            }
            if (!digits || seconds < 1 || seconds > 3600) {
                *error = "--interval needs a whole number of seconds from 1 to 3600, not '" + value + "'";
                return false;
            }
            result.intervalSeconds = seconds;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option '" + arg + "'";
            return false;
        } else {
            files.push_back(arg);
        }
    }
    if (!result.help && !result.version) {
        // A manifest is worth nothing without the key that says it is the studio's.
        if (result.manifestFile.empty() != result.publicKeyFile.empty()) {
            *error = result.manifestFile.empty() ? "--pub needs --manifest"
                                                 : "--manifest needs --pub KEY to check it";
            return false;
        }
        if (files.size() != 2) {
            *error = files.size() < 2 ? "needs FLEET_FILE and LIST_FILE" : "too many arguments: '" + files[2] + "'";
            return false;
        }
        result.fleetFile = files[0];
        result.listFile = files[1];
    }
    *options = result;
    return true;
}
