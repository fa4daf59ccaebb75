// The compressed variants of a release: which names and headers update-server loads, which
// package each request gets, and the package answer's bytes with and without the features.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/net_message_helper.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "protocol/package_messages.h"
#include "protocol/update_protocol.h"
#include "support/temp_dir.h"
#include "support/zstd_frames.h"
#include "update_server/file_request.h"
#include "update_server/package_choice.h"
#include "update_server/release.h"

namespace {

constexpr uint32_t R = PACKAGE_FEATURE_REMOVALS, Z = PACKAGE_FEATURE_ZSTD, D = PACKAGE_FEATURE_DELTA;

enum class SHAPE { kPlain, kRemovals, kCompressed, kCompressedRemovals };

// A package at dir/name: x.txt plain or compressed, with or without a removal.
void WritePackage(const TEMP_DIR& dir, const std::string& name, SHAPE shape)
{
    const std::string content = "content of " + name;
    ASSERT_TRUE(WriteWholeFile(dir / "x", content));
    ASSERT_TRUE(WriteWholeFile(dir / "frame", zstd_frames::RawFrame(content)));
    PACK_WRITER writer;
    std::string error;
    const bool compressed = shape == SHAPE::kCompressed || shape == SHAPE::kCompressedRemovals;
    ASSERT_TRUE(compressed ? writer.AddEncoded("x.txt", dir / "frame", pack_format::kEntryKindZstd,
                                               static_cast<uint32_t>(content.size()),
                                               Crc32(0, content.data(), content.size()), &error)
                           : writer.AddFile("x.txt", dir / "x", &error))
        << error;
    if (shape == SHAPE::kRemovals || shape == SHAPE::kCompressedRemovals) {
        ASSERT_TRUE(writer.AddRemoval("old.txt", &error)) << error;
    }
    ASSERT_TRUE(writer.Write(dir / name, &error)) << error;
    std::filesystem::remove(dir / "x");
    std::filesystem::remove(dir / "frame");
}

std::string FileName(const std::shared_ptr<const RELEASE_FILE>& file)
{
    return file ? std::filesystem::path(file->path).filename().string() : "(none)";
}

} // namespace

TEST(PackageVariants, EachRequestGetsTheBestPackageItCanApply)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "release.conf", "game_version = 3\nupdater_version = 0\n"));
    WritePackage(dir, "Velgrim_patch.rxpack", SHAPE::kPlain);
    WritePackage(dir, "Velgrim_patch.full.rxpack", SHAPE::kPlain);
    WritePackage(dir, "Velgrim_patch.full.zstd.rxpack", SHAPE::kCompressed);
    WritePackage(dir, "Velgrim_patch.from-1.rxpack", SHAPE::kRemovals);
    WritePackage(dir, "Velgrim_patch.from-1.zstd.rxpack", SHAPE::kCompressedRemovals);
    WritePackage(dir, "Velgrim_patch.from-2.rxpack", SHAPE::kPlain);
    WritePackage(dir, "Velgrim_patch.from-2.zstd.rxpack", SHAPE::kCompressed);
    std::string error;
    const std::shared_ptr<const RELEASE> release = LoadRelease(dir.Path(), &error);
    ASSERT_NE(release, nullptr) << error;

    const struct {
        uint32_t installed, features;
        const char* file;
        uint32_t base, flags;
    } cases[] = {
        {1, 0, "Velgrim_patch.rxpack", PACKAGE_BASE_CUMULATIVE, 0},
        {1, R, "Velgrim_patch.from-1.rxpack", 1, R},
        {1, R | Z, "Velgrim_patch.from-1.zstd.rxpack", 1, R | Z},
        {1, R | Z | D, "Velgrim_patch.from-1.zstd.rxpack", 1, R | Z},
        // Compressed, but its removals were not asked for: nor the plain one's.
        {1, Z, "Velgrim_patch.rxpack", PACKAGE_BASE_CUMULATIVE, 0},
        {2, 0, "Velgrim_patch.from-2.rxpack", 2, 0},
        {2, Z, "Velgrim_patch.from-2.zstd.rxpack", 2, Z},
        {2, D, "Velgrim_patch.from-2.rxpack", 2, 0},
        {0, R | Z | D, "Velgrim_patch.full.zstd.rxpack", PACKAGE_BASE_FULL, Z},
        {9, R, "Velgrim_patch.full.rxpack", PACKAGE_BASE_FULL, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("installed " + std::to_string(c.installed) + ", features " + std::to_string(c.features));
        const PACKAGE_CHOICE choice = ChoosePackage(*release, FILE_KIND_PATCH, c.installed, c.features);
        EXPECT_EQ(FileName(choice.file), c.file);
        EXPECT_EQ(choice.base, c.base);
        EXPECT_EQ(choice.features, c.flags);
    }
}

TEST(PackageVariants, ANameMustSayWhatItsHeaderHolds)
{
    const struct {
        const char* name;
        SHAPE shape;
        const char* expected;
    } cases[] = {
        {"Velgrim_patch.from-1.rxpack", SHAPE::kCompressed, "a plain package with compressed or delta entries"},
        {"Velgrim_patch.from-1.zstd.rxpack", SHAPE::kRemovals, "does not announce the entries its name says"},
        {"Velgrim_patch.full.zstd.rxpack", SHAPE::kCompressedRemovals, "the full package must have no removals"},
        {"Velgrim_patch.full.delta.rxpack", SHAPE::kCompressed, "not a package name update-server knows"},
        {"Velgrim_patch.from-1.xz.rxpack", SHAPE::kCompressed, "not a package name update-server knows"},
        {"Velgrim_patch.rxpack", SHAPE::kCompressed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TEMP_DIR dir;
        ASSERT_TRUE(WriteWholeFile(dir / "release.conf", "game_version = 3\nupdater_version = 0\n"));
        WritePackage(dir, "Velgrim_patch.rxpack", SHAPE::kPlain);
        WritePackage(dir, c.name, c.shape);
        std::string error;
        EXPECT_EQ(LoadRelease(dir.Path(), &error), nullptr);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

TEST(PackageVariants, TheAnswerCarriesTheFeaturesOnlyWhenAskedFor)
{
    // The name counted with its zero byte, size low, tag, start low, size high, start high,
    // base, then (asked for) the features.
    const std::string name = std::string("\x15\x00\x00\x00", 4) + std::string("Velgrim_patch.rxpack\0", 21);
    const std::string six = name + std::string("\x05\x00\x00\x00" "\x44\x33\x22\x11" "\x02\x00\x00\x00"
                                               "\x01\x00\x00\x00" "\x00\x00\x00\x00" "\x04\x00\x00\x00", 24);
    const std::string seven = six + std::string("\x03\x00\x00\x00", 4);
    const struct {
        uint32_t requested;
        std::string body;
    } cases[] = {{0, six}, {R, six}, {R | Z, seven}, {Z | D, seven}, {D, seven}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        NET_MESSAGE_HELPER body;
        WritePackageAnswer(body, {"Velgrim_patch.rxpack", 0x100000005ull, 0x11223344, 2, 4,
                                  AnswersFeatures(c.requested), R | Z});
        EXPECT_EQ(std::string(body.m_pData, static_cast<size_t>(body.m_iSize)), c.body);

        const bool featured = AnswersFeatures(c.requested);
        PACKAGE_ANNOUNCEMENT read;
        ASSERT_TRUE(ReadAnsweredAnnouncement(body.m_pData, body.m_iSize, true, &read, featured));
        EXPECT_EQ(read.size, 0x100000005ull);
        EXPECT_EQ(read.base, 4u);
        EXPECT_EQ(read.features, featured ? R | Z : 0u);
        // Unasked, the seventh dword is a byte count too many; asked for, six dwords are the
        // answer of a server that has plain packages only.
        PACKAGE_ANNOUNCEMENT other;
        other.features = 99;
        EXPECT_EQ(ReadAnsweredAnnouncement(body.m_pData, body.m_iSize, true, &other, !featured), !featured);
        EXPECT_EQ(other.features, featured ? 99u : 0u);
    }
}
