// Entry point of the Linux build: the launcher with its console front end.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>

#include "common/build_info.h"
#include "common/rx_exs.h"
#include "launcher/launcher_main.h"
#include "launcher/updater_version.h"
#include "platform/crash_dump.h"
#include "release/release_key.h"

namespace {

const char kHelp[] =
    "usage: updater [new]\n"
    "\n"
    "Run from the game folder (it works in its own folder, wherever it is started): asks\n"
    "the web host for the update servers, updates the game there and starts Velgrim.exe.\n"
    "Progress goes to standard output; the last line on standard error says how the run\n"
    "ended. Ctrl-C cancels the update (the game still starts).\n"
    "\n"
    "  new        the hand-over: a freshly downloaded updater (UpdaterNew.exe) takes the\n"
    "             launcher's place; it starts itself this way\n"
    "  --help     this text\n"
    "  --version  the version and what the build was configured with\n"
    "\n"
    "Exit status: 0 when the game (or the new updater) was started, whatever became of\n"
    "the update; 1 when the game could not be started; 2 for a wrong argument.\n";

} // namespace

int main(int argc, char** argv)
{
    // Arguments first: --help, --version and a mistake touch nothing in the game folder.
    if (argc > 2)
        return std::fprintf(stderr, "updater: one argument at most, 'new' (see 'updater --help')\n"), 2;
    if (argc == 2) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0) {
            std::fputs(VersionText("updater", HasReleaseKey()).c_str(), stdout);
            std::printf("updater version: %u\n", static_cast<unsigned>(OwnUpdaterVersion()));
            return 0;
        }
        if (strcasecmp(argv[1], "new") != 0) {
            std::fprintf(stderr, "updater: unknown argument '%s' (see 'updater --help')\n", argv[1]);
            return 2;
        }
    }
    InstallCrashDump();
    // A file-size limit makes a write fail, as a full disk does, rather than end the
    // launcher before it can start the game.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return LauncherMain(nullptr, argc == 2 ? argv[1] : "");
    } catch (const RXExs& e) {
        std::fprintf(stderr, "updater: %s\n", e.Text());
        return 3;
    }
}
