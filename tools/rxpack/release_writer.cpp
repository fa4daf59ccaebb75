#include "release_writer.h"

#include <filesystem>
#include <system_error>

#include "pack/pack_writer.h"
#include "platform/replacing_file.h"
#include "protocol/update_protocol.h"

namespace fs = std::filesystem;

namespace {

bool CopyInto(const std::string& from, const std::string& to, std::string* error)
{
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::none, ec);
    if (ec) {
        *error = "cannot copy " + from + " to " + to + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace

bool WritePackage(const RELEASE_STORE& store, const PACKAGE_PLAN& package, const std::string& path,
                  std::string* error)
{
    PACK_WRITER writer;
    for (const auto* list : {&package.added, &package.changed})
        for (const LISTED_FILE* f : *list)
            if (!writer.AddFile(f->name, store.ObjectPath(f->sha256), error))
                return false;
    for (const std::string& name : package.removed)
        if (!writer.AddRemoval(name, error))
            return false;
    if (!writer.Write(path, error))
        return false;
    // The plan said what it would be; a store content that is not what its name says
    // would show here.
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    if (ec || size != package.Bytes()) {
        *error = path + " came out " + std::to_string(size) + " bytes, not " + std::to_string(package.Bytes()) +
                 "; a content in the store has the wrong size";
        return false;
    }
    return true;
}

bool WriteReleaseFiles(const RELEASE_STORE& store, const VERSION_LIST& next, const RELEASE_PLAN& plan,
                       const std::string& infoPath, const std::string& dir, std::string* error)
{
    const std::string conf = "# written by rxpack release\ngame_version = " + std::to_string(next.version) +
                             "\nupdater_version = " + std::to_string(next.updaterVersion) + "\n";
    REPLACING_FILE out(dir + "/release.conf");
    if (!out.Create() || !out.Write(conf.data(), conf.size()) || !out.Commit()) {
        *error = "cannot write " + dir + "/release.conf";
        return false;
    }
    if (!infoPath.empty() && !CopyInto(infoPath, dir + "/info.txt", error))
        return false;
    if (next.updaterVersion >= UPDATER_OFFER_MIN_VERSION &&
        !CopyInto(store.ObjectPath(next.updater.sha256), dir + "/" + UPDATER_FILE_NAME, error))
        return false;
    for (const PACKAGE_PLAN& package : plan.packages)
        if (!WritePackage(store, package, dir + "/" + package.fileName, error))
            return false;
    return true;
}
