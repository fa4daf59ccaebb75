// rxpack: the tool a studio uses to make, inspect and try out patch packages.
#include <cstdio>
#include <cstring>

#include "common/build_info.h"
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
    "  sign-release --key KEY (--expires-days N | --no-expiry) RELEASE_DIR\n"
    "                          print the release manifest of RELEASE_DIR (the directory\n"
    "                          update-server serves: versions, size and SHA-256 of the\n"
    "                          patch and of the updater when offered), signed with the\n"
    "                          PEM P-256 private key KEY; launchers refuse it N days\n"
    "                          from now (sign again before then), or never with\n"
    "                          --no-expiry (it can then be replayed for ever). Refuses\n"
    "                          a release update-server would refuse and a patch that\n"
    "                          does not check. Linux build only. With --mirror URL\n"
    "                          (repeatable) it prints format 3 instead: the cumulative\n"
    "                          package and those mirrors\n"
    "  verify-release --pub PUB MANIFEST [RELEASE_DIR]\n"
    "                          check the manifest's form, signature (PEM public key PUB)\n"
    "                          and expiry as the launcher does; with RELEASE_DIR, also\n"
    "                          that its versions and files match the manifest\n"
    "  release --store DIR --version N [--updater EXE] [--info FILE] [--keep K] [--level L]\n"
    "          [--max-delta-seconds S]\n"
    "          [--key KEY (--expires-days D | --no-expiry) [--mirror URL]...] [--dry-run] [--json]\n"
    "          GAME_DIR\n"
    "                          record GAME_DIR as version N in the release store DIR\n"
    "                          (created when missing) and publish DIR/serve, the\n"
    "                          directory update-server serves: a package from each of\n"
    "                          the K newest older versions (default: all), the\n"
    "                          cumulative and the full package, UpdaterNew.exe (its\n"
    "                          version read from its version resource) and, with\n"
    "                          --key, velgrim_release.txt, velgrim_release2.txt and\n"
    "                          velgrim_release3.txt (--mirror URL, repeatable: the\n"
    "                          mirrors it lists); on Linux also the compressed\n"
    "                          variants of the full and from-version packages (zstd\n"
    "                          level L, default 19), and of each from-version package\n"
    "                          a delta variant: changed files as deltas against the\n"
    "                          older version's files, made for at most S seconds in all\n"
    "                          (then whole); deltas are made on Linux only.\n"
    "                          DIR/cdn/objects/<SHA-256> holds every package and the\n"
    "                          updater for the mirrors to serve.\n"
    "                          --dry-run prints what each package would hold and\n"
    "                          writes nothing; --json prints the same as JSON\n"
    "  --help                  this text\n"
    "  --version               the version and what the build was configured with\n"
    "\n"
    "Keys: openssl ecparam -name prime256v1 -genkey -noout -out release.key\n"
    "      openssl ec -in release.key -pubout -out release.pub\n"
    "\n"
    "Exit status: 0 success, 1 failure (missing file, malformed package, failed\n"
    "unpacking, a release or manifest that does not check), 2 bad arguments.\n";

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
    if (command == "--version") {
        std::fputs(VersionText("rxpack", BuildHasReleaseKey()).c_str(), stdout);
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
    if (command == "sign-release")
        return CommandSignRelease(args);
    if (command == "verify-release")
        return CommandVerifyRelease(args);
    if (command == "release")
        return CommandRelease(args);
    return UsageError("unknown command '" + command + "'");
}
