#include <cstdio>
#include <ctime>
#include <vector>

#include "release/release_manifest.h"
#include "release/signed_manifest.h"
#include "release/utc_time.h"
#include "release_dir_match.h"
#include "release_keys.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"
#include "update_server/manifest_match.h"
#include "update_server/release.h"

int CommandVerifyRelease(const ARGS& args)
{
    std::map<std::string, std::string> options;
    ARGS positional;
    std::string error;
    if (!SplitOptions(args, {"--pub"}, &options, &positional, &error))
        return UsageError("verify-release: " + error);
    if (options.count("--pub") == 0 || positional.empty() || positional.size() > 2)
        return UsageError("verify-release takes --pub PUB MANIFEST [RELEASE_DIR]");
    const std::string& path = positional[0];

    uint8_t key[P256_PUBLIC_KEY_SIZE];
    if (!LoadPublicKeyPem(options["--pub"], key, &error)) {
        PrintError(error);
        return kExitFailed;
    }
    std::string text;
    if (!ReadManifestFile(path, &text)) {
        PrintError(path + ": cannot be read");
        return kExitFailed;
    }
    RELEASE_MANIFEST manifest;
    if (!AcceptReleaseManifest(text.data(), text.size(), key, static_cast<int64_t>(std::time(nullptr)), &manifest,
                               &error)) {
        PrintError(path + ": " + error);
        return kExitFailed;
    }
    std::string summary = path + ": OK, signed" +
                          (manifest.format >= 2
                               ? " (format " + std::to_string(manifest.format) + ", " +
                                     std::to_string(manifest.packages.size()) + " packages" +
                                     (manifest.mirrors.empty() ? std::string()
                                                               : ", " + std::to_string(manifest.mirrors.size()) +
                                                                     " mirrors") +
                                     ")"
                               : std::string()) +
                          "; game_version " + std::to_string(manifest.gameVersion) +
                          ", updater_version " + std::to_string(manifest.updaterVersion) + ", ";
    summary += manifest.hasExpiry ? "expires " + FormatUtcTime(manifest.expires) : "no expiry";

    if (positional.size() == 2) {
        const std::string& dir = positional[1];
        std::shared_ptr<const RELEASE> release = LoadRelease(dir, &error);
        if (release == nullptr) {
            PrintError(error);
            return kExitFailed;
        }
        std::vector<std::string> differences = CompareReleaseWithManifest(*release, manifest);
        if (manifest.format >= 2)
            for (std::string& difference : ComparePackagesWithManifest(dir, manifest))
                differences.push_back(std::move(difference));
        for (const std::string& difference : differences)
            PrintError(dir + " does not match " + path + ": " + difference);
        if (!differences.empty())
            return kExitFailed;
        summary += "; " + dir + " matches it";
    }
    std::printf("%s\n", summary.c_str());
    return kExitOk;
}
