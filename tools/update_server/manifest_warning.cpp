#include "update_server/manifest_warning.h"

#include "common/trace_log.h"
#include "release/release_manifest.h"
#include "release/utc_time.h"
#include "update_server/manifest_match.h"

void WarnIfManifestDiffers(const std::string& path, const RELEASE& release, int64_t now)
{
    if (path.empty())
        return;
    std::string text;
    if (!ReadManifestFile(path, &text)) {
        g_trace->Log("update-server: warning: manifest %s cannot be read\n", path.c_str());
        return;
    }
    RELEASE_MANIFEST manifest;
    std::string error;
    if (!ParseReleaseManifest(text.data(), text.size(), &manifest, &error)) {
        g_trace->Log("update-server: warning: manifest %s is malformed (launchers will refuse it): %s\n", path.c_str(),
                     error.c_str());
        return;
    }
    if (manifest.hasExpiry && now >= manifest.expires)
        g_trace->Log("update-server: warning: manifest %s expired on %s (launchers will refuse it)\n", path.c_str(),
                     FormatUtcTime(manifest.expires).c_str());
    const std::vector<std::string> differences = CompareReleaseWithManifest(release, manifest);
    for (const std::string& difference : differences)
        g_trace->Log("update-server: warning: %s does not match manifest %s: %s\n", release.dir.c_str(), path.c_str(),
                     difference.c_str());
    if (differences.empty())
        g_trace->Log("update-server: %s matches manifest %s\n", release.dir.c_str(), path.c_str());
}
