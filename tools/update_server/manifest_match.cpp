#include "update_server/manifest_match.h"

#include <cstring>

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
    return differences;
}
