// Entry point of the Linux build: the launcher with its console front end.
#include <cstdio>
#include <string>

#include "common/rx_exs.h"
#include "launcher/launcher_main.h"

int main(int argc, char** argv)
{
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
