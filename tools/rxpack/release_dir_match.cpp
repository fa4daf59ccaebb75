#include "release_dir_match.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "release_plan.h"
#include "release_store.h"

namespace fs = std::filesystem;

std::vector<std::string> ComparePackagesWithManifest(const std::string& dir, const RELEASE_MANIFEST& manifest)
{
    std::vector<std::string> differences;
    std::set<std::string> named;
    for (const MANIFEST_PACKAGE& p : manifest.packages) {
        const std::string name = PackageFileName(p.base, p.features);
        named.insert(name);
        LISTED_FILE file;
        std::string error;
        if (!DescribeFile(dir + "/" + name, &file, &error)) {
            differences.push_back(name + ": missing or unreadable here, named in the manifest");
        } else if (file.size != p.size) {
            differences.push_back(name + ": " + std::to_string(file.size) + " bytes here, " + std::to_string(p.size) +
                                  " in the manifest");
        } else if (std::memcmp(file.sha256, p.sha256, sizeof(p.sha256)) != 0) {
            differences.push_back(name + ": SHA-256 differs from the manifest's");
        }
    }
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, 14, "Velgrim_patch.") == 0 && name.size() > 21 &&
            name.compare(name.size() - 7, 7, ".rxpack") == 0 && named.count(name) == 0)
            differences.push_back(name + ": served here, not in the manifest (launchers would refuse it)");
    }
    return differences;
}
