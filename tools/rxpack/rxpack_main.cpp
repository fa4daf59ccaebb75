// rxpack: the tool a studio uses to make, inspect and try out patch packages.
#include <cstdio>
#include <cstring>

#include "rxpack_commands.h"
#include "rxpack_errors.h"

namespace {

const char kHelp[] =
    "usage: rxpack <command> [arguments]\n"
    "\n"
    "  create OUT.rxpack DIR   pack every file below DIR; names are relative to DIR,\n"
    "                          '/'-separated and sorted, so the same tree gives the same bytes\n"
    "  list PKG                one line per entry: name, size and offset, tab-separated\n"
    "  check PKG               verify the header, every offset and size, the names and\n"
    "                          the checksums; prints the first problem found\n"
    "  extract PKG [DIR]       unpack into DIR (default: the current directory) as the\n"
    "                          launcher does, with a progress bar on a terminal\n"
    "  --help                  this text\n"
    "\n"
    "Exit status: 0 success, 1 failure (missing file, malformed package, failed\n"
    "unpacking), 2 bad arguments.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    const ARGS args(argv + 2, argv + argc);
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
    if (command == "create")
        return CommandCreate(args);
    if (command == "list")
        return CommandList(args);
    if (command == "check")
        return CommandCheck(args);
    if (command == "extract")
        return CommandExtract(args);
    return UsageError("unknown command '" + command + "'");
}
