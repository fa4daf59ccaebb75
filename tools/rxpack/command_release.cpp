#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <map>
#include <system_error>

#include "cdn_tree.h"
#include "common/decimal_text.h"
#include "delta_pick.h"
#include "pack/pack_writer.h"
#include "platform/file_system.h"
#include "platform/replacing_file.h"
#include "protocol/update_protocol.h"
#include "release/signed_manifest.h"
#include "release_keys.h"
#include "release_plan.h"
#include "release_report.h"
#include "release_store.h"
#include "release_writer.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"
#include "serve_dir.h"
#include "updater_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMaxExpiresDays = 36500;
// The updater travels in the plain answer too: one dword, and the launcher's buffer holds size + 1 bytes.
constexpr uint64_t kMaxUpdaterBytes = 0xFFFFFFFEu;
constexpr uint64_t kMaxInfoText = 64 * 1024;

int Refuse(const std::string& text)
{
    PrintError("release: " + text + "; nothing written");
    return kExitFailed;
}

// A store inside the game folder would be packed into the release it records.
bool Inside(const std::string& path, const std::string& dir)
{
    std::error_code ec;
    const std::string inner = fs::weakly_canonical(path, ec).generic_string() + "/";
    const std::string outer = fs::weakly_canonical(dir, ec).generic_string() + "/";
    return !ec && inner.compare(0, outer.size(), outer) == 0;
}

bool Describe(MANIFEST_PACKAGE* package, uint32_t base, const std::string& path, std::string* error)
{
    LISTED_FILE file;
    if (!DescribeFile(path, &file, error))
        return false;
    package->base = base;
    package->size = file.size;
    std::memcpy(package->sha256, file.sha256, sizeof(file.sha256));
    return true;
}

// Signs the three manifests of the release written in dir (format 3 with the variants and
// the mirrors) and writes them there.
bool SignRelease(SIGNING_KEY& key, int64_t expires, const std::vector<std::string>& mirrors, const VERSION_LIST& next,
                 const RELEASE_PLAN& plan, const std::vector<PACKAGE_VARIANT>& variants, const std::string& dir,
                 std::vector<std::string>* written, std::string* error)
{
    RELEASE_MANIFEST manifest;
    manifest.gameVersion = next.version;
    manifest.updaterVersion = next.updaterVersion;
    manifest.hasUpdater = next.updaterVersion >= UPDATER_OFFER_MIN_VERSION;
    if (manifest.hasUpdater) {
        manifest.updater.size = static_cast<uint32_t>(next.updater.size);
        std::memcpy(manifest.updater.sha256, next.updater.sha256, sizeof(next.updater.sha256));
    }
    manifest.hasExpiry = expires != 0;
    manifest.expires = expires;
    manifest.mirrors = mirrors; // format 3 lists them; 1 and 2 have no such line
    for (const PACKAGE_PLAN& p : plan.packages) {
        MANIFEST_PACKAGE package;
        if (!Describe(&package, p.base, dir + "/" + p.fileName, error))
            return false;
        manifest.packages.push_back(package);
        if (p.base == PACKAGE_BASE_CUMULATIVE) {
            manifest.patch.size = static_cast<uint32_t>(package.size);
            std::memcpy(manifest.patch.sha256, package.sha256, sizeof(package.sha256));
        }
    }
    // Format 3 names the variants too (formats 1 and 2 leave them out).
    for (const PACKAGE_VARIANT& v : variants) {
        MANIFEST_PACKAGE package;
        if (!Describe(&package, v.base, dir + "/" + v.fileName, error))
            return false;
        package.features = v.features;
        manifest.packages.push_back(package);
    }
    for (uint32_t format : {1u, 2u, 3u}) {
        manifest.format = format;
        const std::string body = FormatManifestBody(manifest);
        uint8_t signature[P256_SIGNATURE_SIZE];
        if (!key.Sign(body.data(), body.size(), signature, error))
            return false;
        const std::string text = body + FormatSignatureLine(signature);
        // What the launcher will do with it, before it leaves here.
        RELEASE_MANIFEST check;
        if (!AcceptReleaseManifest(text.data(), text.size(), key.PublicKey(), static_cast<int64_t>(std::time(nullptr)),
                                   &check, error)) {
            *error = "the signed manifest does not check (" + *error + ")";
            return false;
        }
        const std::string name = format == 1   ? "velgrim_release.txt"
                                 : format == 2 ? "velgrim_release2.txt"
                                               : "velgrim_release3.txt";
        REPLACING_FILE out(dir + "/" + name);
        if (!out.Create() || !out.Write(text.data(), text.size()) || !out.Commit()) {
            *error = "cannot write " + dir + "/" + name;
            return false;
        }
        written->push_back(name);
    }
    return true;
}

} // namespace

int CommandRelease(const ARGS& args)
{
    std::map<std::string, std::string> options;
    ARGS positional;
    std::string error;
    ARGS rest = args;
    std::vector<std::string> mirrors;
    if (!TakeMirrorOptions(&rest, &mirrors, &error))
        return UsageError("release: " + error);
    if (!SplitOptions(rest, {"--store", "--version", "--updater", "--info", "--key", "--expires-days", "--keep", "--level",
                       "--max-delta-seconds"},
                      &options, &positional, &error, {"--no-expiry", "--dry-run", "--json"}))
        return UsageError("release: " + error);
    if (options.count("--store") == 0 || options.count("--version") == 0 || positional.size() != 1)
        return UsageError("release takes --store DIR --version N GAME_DIR");
    const std::string& storeDir = options["--store"];
    const std::string& gameDir = positional[0];
    uint32_t version = 0;
    const std::string& versionText = options["--version"];
    if (!ParseUInt32(versionText, &version) || version == 0 || versionText[0] == '0')
        return UsageError("--version needs a whole number from 1 to 4294967295, not '" + versionText + "'");
    uint64_t keep = UINT64_MAX;
    if (options.count("--keep") != 0 && !ParseUnsignedDecimal(options["--keep"], UINT32_MAX, &keep))
        return UsageError("--keep needs a whole number of versions, not '" + options["--keep"] + "'");
    const bool hasKey = options.count("--key") != 0;
    const bool expires = options.count("--expires-days") != 0;
    const bool noExpiry = options.count("--no-expiry") != 0;
    if (!hasKey && (expires || noExpiry))
        return UsageError("release: --expires-days and --no-expiry go with --key");
    if (!hasKey && !mirrors.empty())
        return UsageError("release: --mirror goes with --key (the mirrors are listed in the signed manifest)");
    if (hasKey && expires == noExpiry)
        return UsageError(expires ? "release takes --expires-days N or --no-expiry, not both"
                                  : "release --key needs --expires-days N (sign again before then) or --no-expiry: a "
                                    "manifest that never expires can be replayed to hold players on this release "
                                    "for ever");
    uint64_t days = 0;
    if (expires && (!ParseUnsignedDecimal(options["--expires-days"], kMaxExpiresDays, &days) || days < 1))
        return UsageError("--expires-days needs a whole number of days from 1 to " + std::to_string(kMaxExpiresDays) +
                          ", not '" + options["--expires-days"] + "'");
    const bool dryRun = options.count("--dry-run") != 0;
    // Compressed variants where this rxpack can make them (Linux); --level chooses the cost.
    ZSTD_OPTIONS compress;
    if (options.count("--level") != 0) {
        uint64_t level = 0;
        if (!CanCompress())
            return UsageError("release: --level: this rxpack has no zstd compressor (rxpack compresses on Linux only)");
        if (!ParseUnsignedDecimal(options["--level"], static_cast<uint64_t>(MaxCompressionLevel()), &level) ||
            level < 1)
            return UsageError("--level needs a zstd level from 1 to " + std::to_string(MaxCompressionLevel()) +
                              ", not '" + options["--level"] + "'");
        compress.level = static_cast<int>(level);
    }
    // Deltas where this rxpack makes them (Linux), within the time the studio gives them.
    uint64_t deltaSeconds = UINT32_MAX;
    if (options.count("--max-delta-seconds") != 0 &&
        !ParseUnsignedDecimal(options["--max-delta-seconds"], UINT32_MAX, &deltaSeconds))
        return UsageError("--max-delta-seconds needs a whole number of seconds, not '" +
                          options["--max-delta-seconds"] + "'");
    DELTA_MAKE_OPTIONS deltas;
    deltas.level = compress.level;
    deltas.threads = compress.threads != 0 ? static_cast<int>(compress.threads)
                                           : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    deltas.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deltaSeconds);

    RELEASE_STORE store(storeDir);
    if (!store.Open(&error))
        return Refuse(error);
    const VERSION_LIST* last = store.Newest();
    if (last != nullptr && version <= last->version)
        return Refuse("version " + std::to_string(version) + " is not above " + std::to_string(last->version) +
                      ", the newest version in " + storeDir);
    std::error_code ec;
    if (!fs::is_directory(gameDir, ec))
        return Refuse(gameDir + " is not a directory");
    if (Inside(storeDir, gameDir))
        return Refuse("the store " + storeDir + " lies inside the game folder " + gameDir +
                      " and would be packed into its own release");

    // The game folder: names the launcher can write and keep apart on every system.
    PACK_WRITER tree;
    if (!tree.AddTree(gameDir, std::string(), &error))
        return Refuse(error);
    VERSION_LIST next;
    next.version = version;
    std::map<std::string, std::string> sources, folded;
    for (const PACK_WRITER::SOURCE& s : tree.Sources()) {
        const auto twin = folded.emplace(FoldNameCase(s.name), s.name);
        if (!twin.second)
            return Refuse("\"" + twin.first->second + "\" and \"" + s.name +
                          "\" name one file on Windows (names differing only in case are one file there)");
        sources[s.name] = s.path;
    }
    for (const auto& [name, path] : sources) {
        LISTED_FILE file;
        file.name = name;
        if (!DescribeFile(path, &file, &error))
            return Refuse(error);
        next.files.push_back(file);
    }

    // The updater: its version is the one its program carries, never one typed here.
    const bool newUpdater = options.count("--updater") != 0;
    if (newUpdater) {
        const std::string& path = options["--updater"];
        if (!ReadUpdaterVersionFile(path, &next.updaterVersion, &error))
            return Refuse(error);
        if (next.updaterVersion < UPDATER_OFFER_MIN_VERSION)
            return Refuse(path + " says it is updater version " + std::to_string(next.updaterVersion) +
                          "; launchers take an updater from version " + std::to_string(UPDATER_OFFER_MIN_VERSION) +
                          " on");
        if (last != nullptr && next.updaterVersion <= last->updaterVersion)
            return Refuse(path + " is updater version " + std::to_string(next.updaterVersion) +
                          ", not above version " + std::to_string(last->version) + "'s updater " +
                          std::to_string(last->updaterVersion));
        next.updater.name = UPDATER_FILE_NAME;
        if (!DescribeFile(path, &next.updater, &error))
            return Refuse(error);
        if (next.updater.size > kMaxUpdaterBytes)
            return Refuse(path + " is larger than the plain answer can carry");
    } else if (last != nullptr) {
        // Launchers that have not taken it yet still need it.
        next.updaterVersion = last->updaterVersion;
        next.updater = last->updater;
    }
    if (last != nullptr && !newUpdater && last->files.size() == next.files.size()) {
        bool same = true;
        for (size_t i = 0; same && i < next.files.size(); ++i)
            same = next.files[i].name == last->files[i].name && next.files[i].SameContent(last->files[i]);
        if (same)
            return Refuse("no file differs from version " + std::to_string(last->version) + ": an empty release");
    }

    std::vector<const VERSION_LIST*> kept;
    const std::vector<VERSION_LIST>& versions = store.Versions();
    for (size_t i = versions.size() > keep ? versions.size() - keep : 0; i < versions.size(); ++i)
        kept.push_back(&versions[i]);
    if (kept.size() > RELEASE_MANIFEST::kMaxFromPackages)
        return Refuse(std::to_string(kept.size()) + " older versions would get a package, more than the " +
                      std::to_string(RELEASE_MANIFEST::kMaxFromPackages) +
                      " a signed manifest may name; choose fewer with --keep");
    const RELEASE_PLAN plan = PlanRelease(next, kept);
    const std::string limit = ReleaseLimitProblem(next, plan);
    if (!limit.empty())
        return Refuse(limit);

    std::string infoPath;
    if (options.count("--info") != 0) {
        infoPath = options["--info"];
        const uint64_t size = fs::file_size(infoPath, ec);
        std::string text;
        std::FILE* file = ec || size > kMaxInfoText ? nullptr : std::fopen(infoPath.c_str(), "rb");
        if (file == nullptr)
            return Refuse(ec ? infoPath + " cannot be read" : infoPath + " is larger than 64 KiB");
        text.resize(size);
        const bool read = std::fread(text.data(), 1, text.size(), file) == text.size();
        std::fclose(file);
        if (!read || text.find('\0') != std::string::npos)
            return Refuse(infoPath + (read ? " holds a NUL byte; the info text is plain text" : " cannot be read"));
    }

    SIGNING_KEY key;
    if (hasKey && !key.Load(options["--key"], &error))
        return Refuse(error);

    RELEASE_FACTS facts;
    facts.next = &next;
    facts.plan = &plan;
    facts.store = storeDir;
    facts.dryRun = dryRun;
    facts.newUpdater = newUpdater;
    if (!dryRun) {
        // Contents first, then the release directory beside the one served and the CDN's
        // objects it names, then the switch to it, and last the list that records the version.
        // From here a failure may leave contents in the store that no list names yet.
        const auto failed = [&](const std::string& text) {
            PrintError("release: " + text + "; version " + std::to_string(version) +
                       " is not recorded (the store keeps the versions it had)");
            return kExitFailed;
        };
        if (!store.Create(&error))
            return failed(error);
        for (const LISTED_FILE& f : next.files)
            if (!store.AddObject(sources[f.name], f, &error))
                return failed(error);
        if (newUpdater && !store.AddObject(options["--updater"], next.updater, &error))
            return failed(error);
        SERVE_DIR serve(store.Dir());
        const int64_t expiry =
            days == 0 ? 0 : static_cast<int64_t>(std::time(nullptr)) + static_cast<int64_t>(days) * 86400;
        if (!serve.Begin(&error) ||
            !WriteReleaseFiles(store, next, plan, infoPath, serve.NewPath(), CanCompress() ? &compress : nullptr,
                               &facts.variants, &error, CanMakeDeltas() ? &deltas : nullptr) ||
            (hasKey && !SignRelease(key, expiry, mirrors, next, plan, facts.variants, serve.NewPath(),
                                    &facts.signedFiles, &error)) ||
            !AddCdnObjects(store.Dir(), serve.NewPath(), &facts.cdnObjects, &error) || !serve.Publish(&error))
            return failed(error);
        if (!store.Record(next, &error)) {
            PrintError("release: version " + std::to_string(version) + " is published in " + serve.Path() +
                       " but not recorded in the store (" + error + "); run the same command again");
            return kExitFailed;
        }
    }
    const std::string report = options.count("--json") != 0 ? ReportJson(facts) : ReportText(facts);
    std::fputs(report.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}
