// Compressed entries: applied decoded, and a frame that lies about itself refused by the
// launcher before the swap (the game untouched) and by the checker rxpack and update-server use.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apply/patch_applier.h"
#include "pack/crc32.h"
#include "pack/pack_checker.h"
#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "support/temp_dir.h"
#include "support/zstd_frames.h"

namespace fs = std::filesystem;
using zstd_frames::RawFrame;

namespace {

const std::string kNew = "the new content of b";

uint32_t CrcOf(const std::string& s)
{
    return Crc32(0, s.data(), s.size());
}

class Compressed : public ::testing::Test {
public:
    void SetUp() override
    {
        game = dir / "game";
        fs::create_directories(game);
        ASSERT_TRUE(WriteWholeFile(game + "/a.txt", "old a"));
        ASSERT_TRUE(WriteWholeFile(game + "/b.bin", "old b"));
        ASSERT_TRUE(WriteWholeFile(game + "/gone.txt", "old gone"));
    }
    // A package of a plain a.txt, b.bin stored as `frame` recording decodedSize and
    // decodedCrc, and the removal of gone.txt.
    std::string Package(const std::string& frame, uint32_t decodedSize, uint32_t decodedCrc)
    {
        const std::string package = game + "/Velgrim_patch.rxpack";
        EXPECT_TRUE(WriteWholeFile(dir / "a", "new a") && WriteWholeFile(dir / "frame", frame));
        PACK_WRITER writer;
        std::string error;
        EXPECT_TRUE(writer.AddFile("a.txt", dir / "a", &error) &&
                    writer.AddEncoded("b.bin", dir / "frame", pack_format::kEntryKindZstd, decodedSize, decodedCrc,
                                      &error) &&
                    writer.AddRemoval("gone.txt", &error) && writer.Write(package, &error))
            << error;
        return package;
    }
    std::string Read(const std::string& name)
    {
        std::string bytes;
        return ReadWholeFile(game + "/" + name, &bytes) ? bytes : "(none)";
    }

    TEMP_DIR dir;
    std::string game;
};

} // namespace

TEST_F(Compressed, AppliedDecodedWithTheFlagsAndVersionOfTheFormat)
{
    const std::string package = Package(RawFrame(kNew), static_cast<uint32_t>(kNew.size()), CrcOf(kNew));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(package, &bytes));
    // Version 3, removals and compressed entries; b.bin (the second entry) is kind 2 with
    // its decoded size and CRC in the entry's last 8 bytes.
    const auto u32 = [&](size_t at) { return pack_format::GetU32(reinterpret_cast<const unsigned char*>(&bytes[at])); };
    EXPECT_EQ(u32(12), 3u);
    EXPECT_EQ(u32(16), pack_format::kFlagRemovals | pack_format::kFlagCompressed);
    EXPECT_EQ(u32(48 + 32 + 20), pack_format::kEntryKindZstd);
    EXPECT_EQ(u32(48 + 32 + 24), kNew.size());
    EXPECT_EQ(u32(48 + 32 + 28), CrcOf(kNew));
    EXPECT_EQ(u32(48 + 32 + 8), RawFrame(kNew).size());
    EXPECT_EQ(u32(48 + 32 + 16), CrcOf(RawFrame(kNew)));
    EXPECT_EQ(u32(48 + 24), 0u); // a plain entry keeps them zero
    std::string problem;
    EXPECT_TRUE(CheckPackage(package, &problem)) << problem;

    PATCH_APPLIER applier(game);
    ASSERT_TRUE(applier.Apply(package, 7, nullptr)) << applier.Problem();
    applier.Finish(package);
    EXPECT_EQ(Read("a.txt"), "new a");
    EXPECT_EQ(Read("b.bin"), kNew);
    EXPECT_FALSE(fs::exists(game + "/gone.txt"));
}

TEST_F(Compressed, BadFramesAreRefusedBeforeTheSwap)
{
    const uint32_t size = static_cast<uint32_t>(kNew.size());
    const std::string shorter = kNew.substr(0, 5);
    const struct {
        const char* what;
        std::string frame;
        uint32_t decodedSize;
        uint32_t decodedCrc;
        bool damageStoredCrc;
        const char* expected;
    } cases[] = {
        {"the entry records fewer bytes than the frame", RawFrame(kNew), 5, CrcOf(shorter), false,
         "the frame says it decodes to 20 bytes, the entry 5"},
        {"the entry records more bytes than the frame", RawFrame(kNew), size + 1, CrcOf(kNew), false,
         "the frame says it decodes to 20 bytes, the entry 21"},
        {"the frame holds more than it says", RawFrame(kNew, 5), 5, CrcOf(shorter), false, "cannot be decoded"},
        {"the frame holds less than it says", RawFrame(shorter, size), size, CrcOf(kNew), false, "cannot be decoded"},
        {"a window above every limit (4 GiB)", RawFrame(kNew, size, 22), size, CrcOf(kNew), false,
         "the frame's window is above the"},
        {"bytes after the frame", RawFrame(kNew) + "xx", size, CrcOf(kNew), false, "bytes follow its zstd frame"},
        {"no frame at all", kNew, size, CrcOf(kNew), false, "not a zstd frame"},
        {"a frame without its size", std::string("\x28\xB5\x2F\xFD\x00\x00\x01\x00\x00", 9), 0, 0, false,
         "the frame does not record its size"},
        {"a wrong decoded CRC", RawFrame(kNew), size, CrcOf(kNew) ^ 1, false, "decoded checksum mismatch"},
        {"a wrong stored CRC", RawFrame(kNew), size, CrcOf(kNew), true, "content checksum mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string package = Package(c.frame, c.decodedSize, c.decodedCrc);
        if (c.damageStoredCrc) {
            std::string bytes;
            ASSERT_TRUE(ReadWholeFile(package, &bytes));
            bytes[48 + 32 + 16] ^= 1;
            const uint32_t index = Crc32(0, bytes.data() + 48, 3 * 32 + 6 + 6 + 9);
            for (int i = 0; i < 4; ++i)
                bytes[32 + i] = static_cast<char>(index >> (8 * i));
            ASSERT_TRUE(WriteWholeFile(package, bytes));
        }
        std::string problem;
        EXPECT_FALSE(CheckPackage(package, &problem));
        EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;

        PATCH_APPLIER applier(game);
        EXPECT_FALSE(applier.Apply(package, 7, nullptr));
        EXPECT_NE(applier.Problem().find(c.expected), std::string::npos) << applier.Problem();
        EXPECT_EQ(Read("a.txt"), "old a");
        EXPECT_EQ(Read("b.bin"), "old b");
        EXPECT_EQ(Read("gone.txt"), "old gone");
        applier.Finish(package);
    }
}

// Every launcher decodes what rxpack makes (1 GiB windows); above that, only the 64-bit one
// (2 GiB), and rxpack check and update-server hold every package to the smaller limit.
TEST_F(Compressed, WindowLimitsPerBuild)
{
    const uint32_t size = static_cast<uint32_t>(kNew.size());
    for (const unsigned windowLog : {30u, 31u}) {
        SCOPED_TRACE(windowLog);
        const std::string package = Package(RawFrame(kNew, size, windowLog - 10), size, CrcOf(kNew));
        std::string problem;
        EXPECT_EQ(CheckPackage(package, &problem), windowLog <= pack_format::kWindowLogMade) << problem;
        PATCH_APPLIER applier(game);
        EXPECT_EQ(applier.Apply(package, 7, nullptr), windowLog <= pack_format::kWindowLogMax) << applier.Problem();
        applier.Finish(package);
        ASSERT_TRUE(WriteWholeFile(game + "/b.bin", "old b"));
    }
}
