// The package request and its answer, against a scripted server: what each server is
// asked (a faithful one exactly "kind, 0, 0"), which answers are taken, and a signed
// launcher that takes only the package its manifest names for the installed version.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "downloader/downloader.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "support/trace_capture.h"

namespace {

const std::string kPatchZ = std::string("Velgrim_patch.rxpack") + '\0';
const std::string kUpdaterZ = std::string("UpdaterNew.exe") + '\0';
const uint32_t kPackages = SERVER_CAPS_MAGIC | SERVER_CAP_PACKAGES;

bool DirectoryEmptyOrMissing(const std::string& dir)
{
    std::error_code ec;
    return !std::filesystem::exists(dir, ec) || std::filesystem::is_empty(dir, ec);
}

} // namespace

// Anything but "kind, 0, 0" only to a server whose version answer announced packages; a
// kept part is not even mentioned to another. The faithful exchange then works as ever.
TEST(DownloaderPackageRequest, EachServerIsAskedOnlyWhatItAnnounced)
{
    struct CASE {
        const char* what;
        uint32_t word; // the version answer's first dword
        uint32_t installed;
        bool heldPart;
        std::string request;
    };
    const std::string plain = Hex(Frame(MSG_GET_FILE, Dword(1002) + Dword(0) + Dword(0)));
    const std::vector<CASE> cases = {
        {"a faithful server's 0", 0, 5, false, plain},
        {"a faithful server's 0, a part kept", 0, 5, true, plain},
        {"a small number", 1, 5, false, plain},
        {"the packages bit without the magic", SERVER_CAP_PACKAGES, 5, false, plain},
        {"the magic without the packages bit", SERVER_CAPS_MAGIC | SERVER_CAP_RESUME, 5, true, plain},
        {"packages announced", kPackages, 5, false, Hex(PackageRequestFrame(1002, 0, 1, 5, 3))},
        {"packages announced, no version.txt", kPackages | SERVER_CAP_RESUME, 0, false,
         Hex(PackageRequestFrame(1002, 0, 1, 0, 3))},
        {"packages announced, a part kept", kPackages, 5, true, Hex(PackageRequestFrame(1002, 4, 0x55, 5, 3))},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        const std::string target = dir / "target";
        if (c.heldPart) {
            RESUME_RECORD record;
            record.kind = FILE_KIND_PATCH;
            record.size = 10;
            record.tag = 0x55;
            ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
            ASSERT_TRUE(WriteWholeFile(target + "/Velgrim_patch.rxpack.part", "abcd"));
            ASSERT_TRUE(WriteResumeRecord(target + "/Velgrim_patch.rxpack", record));
        }
        DOWNLOADER downloader;
        downloader.installed_version = c.installed;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Connect(downloader));
        ASSERT_TRUE(peer.Announce(downloader, c.word));
        ASSERT_TRUE(downloader.GetFile(FILE_KIND_PATCH, target.c_str()));
        std::string request;
        const bool extended = c.request != plain;
        ASSERT_TRUE(peer.Expect(downloader, extended ? 36 : 20, &request));
        EXPECT_EQ(Hex(request), c.request);
        if (extended)
            continue;
        // The faithful answer, exactly the name and the size: the file arrives whole.
        ASSERT_TRUE(peer.Send(BeginFrame(kPatchZ, 6) + DataFrame("abcdef") + EndFrame()));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        EXPECT_FALSE(downloader.IsError());
        EXPECT_EQ(downloader.PackageBase(), PACKAGE_BASE_CUMULATIVE);
        std::string written;
        ASSERT_TRUE(ReadWholeFile(target + "/Velgrim_patch.rxpack", &written));
        EXPECT_EQ(written, "abcdef");
    }
}

// Which MSG_FILE_BEGIN is taken: exactly the answer asked for, a package made for the
// installed version (5 here), the full or the cumulative one; the updater is always FULL.
// Refused ones write nothing at all.
TEST(DownloaderPackageRequest, OnlyTheAnswerAskedForAndAPackageForTheInstalledVersion)
{
    struct CASE {
        const char* what;
        bool announced; // the server announced packages
        int kind;
        std::string begin;
        bool taken;
    };
    const uint64_t past4GiB = 5ull << 30; // past 4 GiB: only a package answer can say it
    const std::vector<CASE> cases = {
        {"made from the installed version", true, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5), true},
        {"the full package", true, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, 6, 0x55, 0, PACKAGE_BASE_FULL), true},
        {"past 4 GiB", true, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, past4GiB, 0x55, 0, 5), true},
        {"made from another version", true, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, 6, 0x55, 0, 4), false},
        {"the updater, full", true, FILE_KIND_UPDATER, PackageBeginFrame(kUpdaterZ, 6, 0x55, 0, PACKAGE_BASE_FULL),
         true},
        {"the updater made from a version", true, FILE_KIND_UPDATER, PackageBeginFrame(kUpdaterZ, 6, 0x55, 0, 5),
         false},
        {"a plain answer to a package request", true, FILE_KIND_PATCH, BeginFrame(kPatchZ, 6), false},
        {"a package answer with a byte more", true, FILE_KIND_PATCH,
         Frame(MSG_FILE_BEGIN, PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5).substr(8) + "x"), false},
        {"a package answer without its base", true, FILE_KIND_PATCH,
         Frame(MSG_FILE_BEGIN, PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5).substr(8, 4 + kPatchZ.size() + 20)), false},
        {"an update-server of the previous release: no features", true, FILE_KIND_PATCH,
         PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5, std::nullopt), true},
        {"compressed entries, asked for", true, FILE_KIND_PATCH,
         PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5, PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD), true},
        {"delta entries, not asked for", true, FILE_KIND_PATCH,
         PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5, PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA), false},
        {"the plain answer", false, FILE_KIND_PATCH, BeginFrame(kPatchZ, 6), true},
        // A padded plain answer is not read as going on from somewhere.
        {"a plain answer padded with two dwords", false, FILE_KIND_PATCH,
         Frame(MSG_FILE_BEGIN, Counted(kPatchZ) + Dword(6) + Dword(0x55) + Dword(0)), false},
        {"a package answer to a plain request", false, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, 6, 0x55, 0, 5),
         false},
        {"a package size past 2^63", true, FILE_KIND_PATCH, PackageBeginFrame(kPatchZ, 1ull << 63, 0x55, 0, 5),
         false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        const std::string target = dir / "target";
        DOWNLOADER downloader;
        downloader.installed_version = 5;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Connect(downloader));
        ASSERT_TRUE(peer.Announce(downloader, c.announced ? kPackages : 0));
        ASSERT_TRUE(downloader.GetFile(c.kind, target.c_str()));
        std::string request;
        ASSERT_TRUE(peer.Expect(downloader, c.announced ? 36 : 20, &request));
        ASSERT_TRUE(peer.Send(c.begin + DataFrame("abc")));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() == 3 || downloader.IsError(); }));
        EXPECT_EQ(downloader.IsError(), !c.taken);
        if (!c.taken) {
            EXPECT_TRUE(DirectoryEmptyOrMissing(target)) << "refused before a byte is written";
            continue;
        }
        const std::string name = c.kind == FILE_KIND_PATCH ? "Velgrim_patch.rxpack" : "UpdaterNew.exe";
        EXPECT_GT(downloader.GetTotalSize(), 3u);
        downloader.Close();
        // A package answer under a tag keeps its part for later, with its whole size; a
        // plain one cannot be gone on with.
        std::string part;
        EXPECT_EQ(ReadWholeFile(target + "/" + name + ".part", &part), c.announced);
        EXPECT_EQ(part, c.announced ? "abc" : "");
        RESUME_RECORD record;
        EXPECT_EQ(ReadResumeRecord(target + "/" + name, &record), c.announced);
        if (c.announced) {
            EXPECT_EQ(record.size, downloader.GetTotalSize());
        }
    }
}

// A signed launcher installed at 5 takes only a package its manifest lists for 5, FULL or
// CUMULATIVE, of exactly that line's size, refused before a byte is written; the whole file
// is then held to that line's SHA-256. A format-1 manifest lists the cumulative one only.
TEST(DownloaderPackageRequest, ASignedLauncherTakesOnlyThePackageItsManifestNames)
{
    const std::string cumulative = std::string(3000, 'c') + "end";
    const std::string full = std::string(5000, 'f') + "end";
    const std::string from5 = std::string(700, '5') + "end";
    std::string altered = from5;
    altered[300] ^= 1;
    RELEASE_MANIFEST format2;
    format2.format = 2;
    format2.gameVersion = 7;
    format2.patch = ManifestFileOf(cumulative);
    format2.packages = {ManifestPackageOf(cumulative, PACKAGE_BASE_CUMULATIVE),
                        ManifestPackageOf(full, PACKAGE_BASE_FULL), ManifestPackageOf(from5, 5),
                        ManifestPackageOf(std::string(900, '4'), 4)};
    RELEASE_MANIFEST format1;
    format1.gameVersion = 7;
    format1.patch = ManifestFileOf(cumulative);
    format1.packages = {ManifestPackageOf(cumulative, PACKAGE_BASE_CUMULATIVE)};
    struct CASE {
        const char* what;
        const RELEASE_MANIFEST* manifest;
        bool announced;
        uint32_t base;
        uint64_t announcedSize;
        std::string bytes;
        bool startsWriting; // passes the checks before the first byte
        bool kept;
    };
    const std::vector<CASE> cases = {
        {"the package for 5", &format2, true, 5, from5.size(), from5, true, true},
        {"the full package", &format2, true, PACKAGE_BASE_FULL, full.size(), full, true, true},
        {"the cumulative one from a faithful server", &format2, false, 0, cumulative.size(), cumulative, true, true},
        {"the package for 4, which the manifest lists", &format2, true, 4, 900, std::string(900, '4'), false, false},
        {"the package for 5, one byte larger", &format2, true, 5, from5.size() + 1, from5 + "!", false, false},
        {"the package for 5, one bit altered", &format2, true, 5, from5.size(), altered, true, false},
        {"the full package under format 1", &format1, true, PACKAGE_BASE_FULL, full.size(), full, false, false},
        {"the cumulative one under format 1", &format1, true, PACKAGE_BASE_CUMULATIVE, cumulative.size(), cumulative,
         true, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TRACE_CAPTURE trace;
        TEMP_DIR dir;
        const std::string target = dir / "target";
        DOWNLOADER downloader;
        downloader.installed_version = 5;
        downloader.ExpectRelease(c.manifest);
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Connect(downloader));
        ASSERT_TRUE(peer.Announce(downloader, c.announced ? kPackages : 0));
        ASSERT_TRUE(downloader.GetFile(FILE_KIND_PATCH, target.c_str()));
        std::string request;
        ASSERT_TRUE(peer.Expect(downloader, c.announced ? 36 : 20, &request));
        // Format 1 and 2 manifests cannot name a variant: only removals are asked for, and
        // the answer has no features.
        const std::string begin = c.announced ? PackageBeginFrame(kPatchZ, c.announcedSize, 0x55, 0, c.base, std::nullopt)
                                              : BeginFrame(kPatchZ, static_cast<uint32_t>(c.announcedSize));
        ASSERT_TRUE(peer.Send(begin));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetTotalSize() != 0 || downloader.IsError(); }));
        EXPECT_EQ(downloader.IsError(), !c.startsWriting);
        if (!c.startsWriting) {
            EXPECT_TRUE(DirectoryEmptyOrMissing(target)) << "refused before a byte is written";
            continue;
        }
        std::string frames;
        for (size_t at = 0; at < c.bytes.size(); at += 1000)
            frames += DataFrame(c.bytes.substr(at, 1000));
        ASSERT_TRUE(peer.Send(frames + EndFrame()));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        EXPECT_EQ(downloader.IsError(), !c.kept);
        std::string written;
        EXPECT_EQ(ReadWholeFile(target + "/Velgrim_patch.rxpack", &written), c.kept);
        EXPECT_TRUE(!c.kept || written == c.bytes);
        EXPECT_FALSE(FileExists(target + "/Velgrim_patch.rxpack.part"));
    }
}
