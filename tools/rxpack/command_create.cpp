#include <cstdio>

#include "pack/pack_writer.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"

namespace {

// What update-server serves and the launcher receives: a size that fits the wire's dword,
// less the one value kept for "unknown".
constexpr uint64_t kMaxPackageBytes = 0xFFFFFFFEu;

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

int CommandCreate(const ARGS& args)
{
    if (args.size() != 2)
        return UsageError("create takes OUT.rxpack and DIR");
    const std::string& out = args[0];
    const std::string& dir = args[1];
    // The package comes first: a folder there is the arguments the other way round.
    if (IsFolder(out)) {
        return UsageError(out + " is a folder, and the package is written to the first argument: to pack " + out +
                          ", say 'rxpack create " + (IsFolder(dir) ? std::string("OUT.rxpack") : dir) + " " + out +
                          "'");
    }
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        PrintError(dir + ": " + LastErrorText());
        return kExitFailed;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        PrintError(dir + " is a file; the folder to pack comes last (rxpack create OUT.rxpack DIR)");
        return kExitFailed;
    }
    PACK_WRITER writer;
    std::string error;
    if (!writer.AddTree(dir, out, &error)) {
        PrintError(error);
        return kExitFailed;
    }
    // Mistakes that would reach every player are refused here, before anything is written.
    if (writer.Count() == 0) {
        PrintError(dir + " holds no file: a package of nothing would update nothing");
        return kExitFailed;
    }
    if (writer.PackageBytes() > kMaxPackageBytes) {
        PrintError("the package would be " + std::to_string(writer.PackageBytes()) + " bytes; update-server serves at " +
                   "most " + std::to_string(kMaxPackageBytes) + " (4 GiB less 2): split the release");
        return kExitFailed;
    }
    if (!writer.Write(out, &error)) {
        PrintError(error);
        return kExitFailed;
    }
    std::printf("%s: %zu files, %llu bytes\n", out.c_str(), writer.Count(),
                static_cast<unsigned long long>(writer.ContentBytes()));
    return kExitOk;
}
