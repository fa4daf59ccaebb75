#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "protocol/update_protocol.h"
#include "release/release_manifest.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "support/trace_capture.h"
#include "update_server/manifest_match.h"
#include "update_server/manifest_warning.h"
#include "update_server/release.h"

namespace {

// The release directory the manifest below describes: game 7, updater 1100.
std::shared_ptr<const RELEASE> WriteRelease(const TEMP_DIR& dir, const std::string& conf, const std::string& patch)
{
    std::string error;
    EXPECT_TRUE(WriteWholeFile(dir / "release.conf", conf));
    EXPECT_TRUE(WriteWholeFile(dir / "Velgrim_patch.rxpack", BarePackage(patch)));
    EXPECT_TRUE(WriteWholeFile(dir / "UpdaterNew.exe", "MZ updater"));
    std::shared_ptr<const RELEASE> release = LoadRelease(dir.Path(), &error);
    EXPECT_NE(release, nullptr) << error;
    return release;
}

RELEASE_MANIFEST Manifest()
{
    RELEASE_MANIFEST manifest;
    manifest.gameVersion = 7;
    manifest.updaterVersion = 1100;
    manifest.patch = ManifestFileOf(BarePackage("PATCH"));
    manifest.hasUpdater = true;
    manifest.updater = ManifestFileOf("MZ updater");
    return manifest;
}

} // namespace

TEST(ManifestMatch, NamesEveryDifference)
{
    const std::string conf = "game_version = 7\nupdater_version = 1100\n";
    struct CASE {
        const char* what;
        std::string conf;
        std::string patch;
        std::vector<std::string> differences;
    };
    const CASE cases[] = {
        {"the same release", conf, "PATCH", {}},
        {"a newer game", "game_version = 8\nupdater_version = 1100\n", "PATCH",
         {"game_version 8 here, 7 in the manifest"}},
        {"no updater offered", "game_version = 7\n", "PATCH", {"updater_version 0 here, 1100 in the manifest"}},
        {"patch of another size", conf, "PATCH2",
         {"Velgrim_patch.rxpack: 54 bytes here, 53 in the manifest"}},
        {"patch with other bytes", conf, "PATCX", {"Velgrim_patch.rxpack: SHA-256 differs from the manifest's"}},
        {"all at once", "game_version = 6\nupdater_version = 1101\n", "patch",
         {"game_version 6 here, 7 in the manifest", "updater_version 1101 here, 1100 in the manifest",
          "Velgrim_patch.rxpack: SHA-256 differs from the manifest's"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        std::shared_ptr<const RELEASE> release = WriteRelease(dir, c.conf, c.patch);
        ASSERT_NE(release, nullptr);
        EXPECT_EQ(CompareReleaseWithManifest(*release, Manifest()), c.differences);
    }
}

TEST(ManifestMatch, TheServerWarnsInItsLog)
{
    TEMP_DIR dir;
    std::shared_ptr<const RELEASE> release =
        WriteRelease(dir, "game_version = 8\nupdater_version = 1100\n", "PATCH");
    ASSERT_NE(release, nullptr);
    RELEASE_MANIFEST manifest = Manifest();
    manifest.hasExpiry = true;
    manifest.expires = 1000;
    const uint8_t signature[P256_SIGNATURE_SIZE] = {};
    ASSERT_TRUE(WriteWholeFile(dir / "good.txt", FormatManifestBody(manifest) + FormatSignatureLine(signature)));
    ASSERT_TRUE(WriteWholeFile(dir / "bad.txt", "velgrim-release 1\n"));

    struct CASE {
        std::string path;
        int64_t now;
        std::vector<std::string> lines;
    };
    const std::string where = dir.Path() + " does not match manifest " + dir / "good.txt";
    const std::string differs = "update-server: warning: " + where + ": game_version 8 here, 7 in the manifest\n";
    const std::string soon = "update-server: warning: manifest " + dir / "good.txt" +
                             " expires on 1970-01-01T00:16:40Z, within 7 days: sign and publish a new one before "
                             "then, or players get no updates\n";
    const int64_t week = 7 * 86400;
    const CASE cases[] = {
        {"", 0, {}},
        {dir / "good.txt", 1000 - week - 1, {differs}},
        {dir / "good.txt", 1000 - week, {soon, differs}},
        {dir / "good.txt", 999, {soon, differs}},
        {dir / "good.txt", 1000,
         {"update-server: warning: manifest " + dir / "good.txt" +
              " expired on 1970-01-01T00:16:40Z (launchers will refuse it)\n",
          "update-server: warning: " + where + ": game_version 8 here, 7 in the manifest\n"}},
        {dir / "bad.txt", 0,
         {"update-server: warning: manifest " + dir / "bad.txt" +
          " is malformed (launchers will refuse it): ends before 'game_version'\n"}},
        {dir / "none.txt", 0, {"update-server: warning: manifest " + dir / "none.txt" + " cannot be read\n"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.path + " at " + std::to_string(c.now));
        TRACE_CAPTURE trace;
        const std::optional<int64_t> expires = WarnIfManifestDiffers(c.path, *release, c.now);
        EXPECT_EQ(trace.LogLines(), c.lines);
        // The expiry for /metrics comes from a manifest that could be read, expired or not.
        EXPECT_EQ(expires, c.path == dir / "good.txt" ? std::optional<int64_t>(1000) : std::nullopt);
    }

    TRACE_CAPTURE trace;
    release.reset(); // its files are open, which Windows lets nobody write meanwhile
    std::shared_ptr<const RELEASE> same = WriteRelease(dir, "game_version = 7\nupdater_version = 1100\n", "PATCH");
    WarnIfManifestDiffers(dir / "good.txt", *same, 1000 - week - 1);
    const std::string matches = "update-server: " + dir.Path() + " matches manifest " + dir / "good.txt" + "\n";
    EXPECT_EQ(trace.LogLines(), std::vector<std::string>{matches});
}

// A format-2 manifest names every package of the release: each is compared with the
// package of its base here, both ways.
TEST(ManifestMatch, AFormat2ManifestIsComparedPackageByPackage)
{
    auto package = [](uint32_t base, const std::string& bytes) {
        MANIFEST_PACKAGE p;
        p.base = base;
        p.size = bytes.size();
        std::memcpy(p.sha256, ManifestFileOf(bytes).sha256, sizeof(p.sha256));
        return p;
    };
    const MANIFEST_PACKAGE cumulative = package(PACKAGE_BASE_CUMULATIVE, BarePackage("PATCH"));
    const MANIFEST_PACKAGE full = package(PACKAGE_BASE_FULL, BarePackage("FULL"));
    const MANIFEST_PACKAGE from5 = package(5, BarePackage("FROM 5"));
    struct CASE {
        const char* what;
        std::vector<MANIFEST_PACKAGE> packages;
        std::vector<std::string> differences;
    };
    const CASE cases[] = {
        {"every package, the same", {cumulative, full, from5}, {}},
        {"one here is not in the manifest", {cumulative, full}, {"package from 5: here, not in the manifest"}},
        {"one in the manifest is not here", {cumulative, full, from5, package(6, "x")},
         {"package from 6: in the manifest, not here"}},
        {"another size", {cumulative, package(PACKAGE_BASE_FULL, BarePackage("FULL!")), from5},
         {"package full: 52 bytes here, 53 in the manifest"}},
        {"other bytes", {cumulative, full, package(5, BarePackage("FROM 6"))},
         {"package from 5: SHA-256 differs from the manifest's"}},
    };
    TEMP_DIR dir;
    std::shared_ptr<const RELEASE> release = WriteRelease(dir, "game_version = 7\nupdater_version = 1100\n", "PATCH");
    ASSERT_TRUE(WriteWholeFile(dir / "Velgrim_patch.full.rxpack", BarePackage("FULL")));
    ASSERT_TRUE(WriteWholeFile(dir / "Velgrim_patch.from-5.rxpack", BarePackage("FROM 5")));
    std::string error;
    release = LoadRelease(dir.Path(), &error);
    ASSERT_NE(release, nullptr) << error;
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        RELEASE_MANIFEST manifest = Manifest();
        manifest.format = 2;
        manifest.packages = c.packages;
        EXPECT_EQ(CompareReleaseWithManifest(*release, manifest), c.differences);
    }
}
