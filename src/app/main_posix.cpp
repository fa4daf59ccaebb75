// Entry point of the Linux build: the launcher with its console front end.
#include <csignal>
#include <cstdio>
#include <string>

#include "common/rx_exs.h"
#include "launcher/launcher_main.h"
#include "platform/crash_dump.h"

int main(int argc, char** argv)
{
    InstallCrashDump();
    // A file-size limit makes a write fail, as a full disk does, rather than end the
    // launcher before it can start the game.
    std::signal(SIGXFSZ, SIG_IGN);
    // The command-line text after the program name, as the Windows entry point gets it.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    try {
        return LauncherMain(nullptr, commandLine.c_str());
    } catch (const RXExs& e) {
        std::fprintf(stderr, "updater: %s\n", e.Text());
        return 3;
    }
}
