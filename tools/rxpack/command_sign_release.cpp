#include <cstdio>
#include <cstring>
#include <ctime>

#include "cdn_tree.h"
#include "common/decimal_text.h"
#include "protocol/update_protocol.h"
#include "release/signed_manifest.h"
#include "release_keys.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"
#include "update_server/release.h"

namespace {

constexpr uint32_t kMaxExpiresDays = 36500;

// The release read the file through and hashed it. A format-1 manifest holds 32-bit sizes.
bool Describe(MANIFEST_FILE* out, const RELEASE_FILE& file)
{
    out->size = static_cast<uint32_t>(file.size);
    std::memcpy(out->sha256, file.sha256, sizeof(out->sha256));
    return file.size <= UINT32_MAX;
}

} // namespace

int CommandSignRelease(const ARGS& args)
{
    std::map<std::string, std::string> options;
    ARGS positional;
    std::string error;
    ARGS rest = args;
    std::vector<std::string> mirrors;
    if (!TakeMirrorOptions(&rest, &mirrors, &error))
        return UsageError("sign-release: " + error);
    if (!SplitOptions(rest, {"--key", "--expires-days"}, &options, &positional, &error, {"--no-expiry"}))
        return UsageError("sign-release: " + error);
    if (options.count("--key") == 0 || positional.size() != 1)
        return UsageError("sign-release takes --key KEY (--expires-days N | --no-expiry) RELEASE_DIR");
    // A manifest without an expiry can be replayed for ever to hold players on its release,
    // so going without one is a choice made on the command line, never a default.
    const bool expires = options.count("--expires-days") != 0;
    if (expires == (options.count("--no-expiry") != 0))
        return UsageError(expires ? "sign-release takes --expires-days N or --no-expiry, not both"
                                  : "sign-release needs --expires-days N (re-sign before then) or "
                                    "--no-expiry: a manifest that never expires can be replayed to hold "
                                    "players on this release for ever");
    uint64_t days = 0;
    if (expires) {
        const std::string& text = options["--expires-days"];
        if (!ParseUnsignedDecimal(text, kMaxExpiresDays, &days) || days < 1)
            return UsageError("--expires-days needs a whole number of days from 1 to " +
                              std::to_string(kMaxExpiresDays) + ", not '" + text + "'");
    }
    SIGNING_KEY key;
    if (!key.Load(options["--key"], &error)) {
        PrintError(error);
        return kExitFailed;
    }
    const std::string& dir = positional[0];
    std::shared_ptr<const RELEASE> release = LoadRelease(dir, &error);
    if (release == nullptr) {
        PrintError("refusing to sign, update-server would refuse this release: " + error);
        return kExitFailed;
    }

    RELEASE_MANIFEST manifest;
    manifest.gameVersion = release->game_version;
    manifest.updaterVersion = release->updater_version;
    manifest.hasUpdater = release->updater != nullptr;
    if (!Describe(&manifest.patch, *release->patch) ||
        (manifest.hasUpdater && !Describe(&manifest.updater, *release->updater))) {
        PrintError("a release file is 4 GiB or more, which this manifest format cannot name");
        return kExitFailed;
    }
    if (!mirrors.empty()) {
        // Format 3: the release directory's one package, the cumulative one, and where
        // mirrors carry it (under its SHA-256, as rxpack release lays out STORE/cdn).
        manifest.format = 3;
        manifest.mirrors = mirrors;
        MANIFEST_PACKAGE package;
        package.base = PACKAGE_BASE_CUMULATIVE;
        package.size = release->patch->size;
        std::memcpy(package.sha256, release->patch->sha256, sizeof(package.sha256));
        manifest.packages.push_back(package);
    }
    if (days != 0) {
        manifest.hasExpiry = true;
        manifest.expires = static_cast<int64_t>(std::time(nullptr)) + static_cast<int64_t>(days) * 86400;
    }
    const std::string body = FormatManifestBody(manifest);
    uint8_t signature[P256_SIGNATURE_SIZE];
    if (!key.Sign(body.data(), body.size(), signature, &error)) {
        PrintError(error);
        return kExitFailed;
    }
    const std::string text = body + FormatSignatureLine(signature);
    // What the launcher will do with it, before it leaves here.
    RELEASE_MANIFEST check;
    if (!AcceptReleaseManifest(text.data(), text.size(), key.PublicKey(), static_cast<int64_t>(std::time(nullptr)),
                               &check, &error)) {
        PrintError("the signed manifest does not check (" + error + ")");
        return kExitFailed;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        PrintError("the manifest cannot be written to standard output");
        return kExitFailed;
    }
    return kExitOk;
}
