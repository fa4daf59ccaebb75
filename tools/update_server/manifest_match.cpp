#include "update_server/manifest_match.h"

#include <cstring>
#include <map>

#include "protocol/update_protocol.h"

namespace {

void CompareVersion(const char* name, uint32_t here, uint32_t manifest, std::vector<std::string>* differences)
{
    if (here != manifest)
        differences->push_back(std::string(name) + " " + std::to_string(here) + " here, " + std::to_string(manifest) +
                               " in the manifest");
}

void CompareFile(const RELEASE_FILE& file, const MANIFEST_FILE& expected, std::vector<std::string>* differences)
{
    if (file.size != expected.size) {
        differences->push_back(file.name + ": " + std::to_string(file.size) + " bytes here, " +
                               std::to_string(expected.size) + " in the manifest");
        return;
    }
    if (std::memcmp(file.sha256, expected.sha256, sizeof(file.sha256)) != 0)
        differences->push_back(file.name + ": SHA-256 differs from the manifest's");
}

std::string PackageLabel(uint32_t base)
{
    return base == PACKAGE_BASE_CUMULATIVE ? "package cumulative"
           : base == PACKAGE_BASE_FULL    ? "package full"
                                          : "package from " + std::to_string(base);
}

// A format-2 manifest names every package: each must be here with its size and SHA-256,
// and nothing here may be missing from it.
void ComparePackages(const RELEASE& release, const RELEASE_MANIFEST& manifest, std::vector<std::string>* differences)
{
    std::map<uint32_t, std::shared_ptr<const RELEASE_FILE>> here = release.from;
    here[PACKAGE_BASE_CUMULATIVE] = release.patch;
    if (release.full != nullptr)
        here[PACKAGE_BASE_FULL] = release.full;
    for (const MANIFEST_PACKAGE& expected : manifest.packages) {
        // Variants are compared where the server loads them.
        if (expected.features != 0)
            continue;
        const std::string label = PackageLabel(expected.base);
        const auto found = here.find(expected.base);
        if (found == here.end() || found->second == nullptr) {
            differences->push_back(label + ": in the manifest, not here");
            continue;
        }
        const RELEASE_FILE& file = *found->second;
        if (file.size != expected.size)
            differences->push_back(label + ": " + std::to_string(file.size) + " bytes here, " +
                                   std::to_string(expected.size) + " in the manifest");
        else if (std::memcmp(file.sha256, expected.sha256, sizeof(file.sha256)) != 0)
            differences->push_back(label + ": SHA-256 differs from the manifest's");
        here.erase(found);
    }
    for (const auto& [base, file] : here)
        if (file != nullptr)
            differences->push_back(PackageLabel(base) + ": here, not in the manifest");
}

} // namespace

std::vector<std::string> CompareReleaseWithManifest(const RELEASE& release, const RELEASE_MANIFEST& manifest)
{
    std::vector<std::string> differences;
    CompareVersion("game_version", release.game_version, manifest.gameVersion, &differences);
    CompareVersion("updater_version", release.updater_version, manifest.updaterVersion, &differences);
    for (int kind : {FILE_KIND_PATCH, FILE_KIND_UPDATER}) {
        const std::shared_ptr<const RELEASE_FILE> file = release.FileOfKind(kind);
        const MANIFEST_FILE* expected = manifest.FileOfKind(kind);
        if (file != nullptr && expected != nullptr)
            CompareFile(*file, *expected, &differences);
    }
    if (manifest.format >= 2)
        ComparePackages(release, manifest, &differences);
    return differences;
}
