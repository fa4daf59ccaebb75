// The downloader held to a release manifest: a file of exactly the manifest's size and
// SHA-256 for its kind, or a failed transfer that leaves nothing under the file's name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "downloader/downloader.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "support/trace_capture.h"

namespace {

const std::string kZ(1, '\0');

} // namespace

TEST(DownloaderReleaseManifest, OnlyTheSignedBytesGetTheFilesName)
{
    const std::string patch = std::string(9000, 'p') + "end of patch";
    const std::string updater = "MZ" + std::string(5000, 'u');
    RELEASE_MANIFEST withUpdater;
    withUpdater.patch = ManifestFileOf(patch);
    withUpdater.packages.push_back(ManifestPackageOf(patch, PACKAGE_BASE_CUMULATIVE));
    withUpdater.hasUpdater = true;
    withUpdater.updater = ManifestFileOf(updater);
    RELEASE_MANIFEST patchOnly;
    patchOnly.patch = withUpdater.patch;
    patchOnly.packages = withUpdater.packages;

    std::string altered = patch;
    altered[4500] ^= 1;
    struct CASE {
        const char* what;
        const RELEASE_MANIFEST* manifest; // null: none, the file is taken as sent
        int kind;
        std::string name;
        std::string bytes;
        uint32_t announced;
        bool kept;
    };
    const uint32_t size = static_cast<uint32_t>(patch.size());
    const std::vector<CASE> cases = {
        {"the signed patch", &withUpdater, FILE_KIND_PATCH, "Velgrim_patch.rxpack", patch, size, true},
        {"the signed updater", &withUpdater, FILE_KIND_UPDATER, "UpdaterNew.exe", updater,
         static_cast<uint32_t>(updater.size()), true},
        {"one bit altered", &withUpdater, FILE_KIND_PATCH, "Velgrim_patch.rxpack", altered, size, false},
        {"one byte short, announced so", &withUpdater, FILE_KIND_PATCH, "Velgrim_patch.rxpack",
         patch.substr(0, size - 1), size - 1, false},
        {"one byte more, announced so", &withUpdater, FILE_KIND_PATCH, "Velgrim_patch.rxpack", patch + "!", size + 1,
         false},
        {"an updater the manifest does not name", &patchOnly, FILE_KIND_UPDATER, "UpdaterNew.exe", updater,
         static_cast<uint32_t>(updater.size()), false},
        {"no manifest: taken as sent", nullptr, FILE_KIND_PATCH, "Velgrim_patch.rxpack", altered, size, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TRACE_CAPTURE trace;
        TEMP_DIR dir;
        const std::string target = dir / "target";
        const std::string path = target + "/" + c.name;
        ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(path, "older"));
        DOWNLOADER downloader;
        downloader.ExpectRelease(c.manifest);
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Request(downloader, c.kind, target));
        std::string frames = BeginFrame(c.name + kZ, c.announced);
        for (size_t at = 0; at < c.bytes.size(); at += 4000)
            frames += DataFrame(c.bytes.substr(at, 4000));
        peer.Send(frames + EndFrame());
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        EXPECT_TRUE(peer.WaitClosed(downloader));
        EXPECT_EQ(downloader.IsError(), !c.kept);
        std::string written;
        ASSERT_TRUE(ReadWholeFile(path, &written));
        EXPECT_EQ(written, c.kept ? c.bytes : "older");
        EXPECT_FALSE(FileExists(path + ".part"));
        EXPECT_EQ(trace.ErrorTexts().empty(), c.kept);
    }
}
