#include "update_server/manifest_warning.h"

#include "common/trace_log.h"
#include "release/release_manifest.h"
#include "release/utc_time.h"
#include "update_server/manifest_match.h"

std::optional<int64_t> WarnIfManifestDiffers(const std::string& path, const RELEASE& release, int64_t now)
{
    if (path.empty())
        return std::nullopt;
    std::string text;
    if (!ReadManifestFile(path, &text)) {
        g_trace->Log("update-server: warning: manifest %s cannot be read\n", path.c_str());
        return std::nullopt;
    }
    RELEASE_MANIFEST manifest;
    std::string error;
    if (!ParseReleaseManifest(text.data(), text.size(), &manifest, &error)) {
        g_trace->Log("update-server: warning: manifest %s is malformed (launchers will refuse it): %s\n", path.c_str(),
                     error.c_str());
        return std::nullopt;
    }
    if (manifest.hasExpiry && now >= manifest.expires)
        g_trace->Log("update-server: warning: manifest %s expired on %s (launchers will refuse it)\n", path.c_str(),
                     FormatUtcTime(manifest.expires).c_str());
    else if (manifest.hasExpiry && manifest.expires - now <= kManifestExpiryWarningSeconds)
        g_trace->Log("update-server: warning: manifest %s expires on %s, within 7 days: sign and publish a "
                     "new one before then, or players get no updates\n",
                     path.c_str(), FormatUtcTime(manifest.expires).c_str());
    const std::vector<std::string> differences = CompareReleaseWithManifest(release, manifest);
    for (const std::string& difference : differences)
        g_trace->Log("update-server: warning: %s does not match manifest %s: %s\n", release.dir.c_str(), path.c_str(),
                     difference.c_str());
    if (differences.empty())
        g_trace->Log("update-server: %s matches manifest %s\n", release.dir.c_str(), path.c_str());
    return manifest.hasExpiry ? std::optional<int64_t>(manifest.expires) : std::nullopt;
}
