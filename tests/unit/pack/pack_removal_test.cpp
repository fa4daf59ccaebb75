#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "pack/crc32.h"
#include "pack/pack_checker.h"
#include "pack/pack_writer.h"
#include "pack_test_util.h"
#include "support/temp_dir.h"

using namespace pack_test;

namespace {

// "a.txt" (alpha) and a removal of "old.map": header 48, table 64, names 14, then 5 bytes.
std::string FlaggedPackage(const TEMP_DIR& dir)
{
    EXPECT_TRUE(WriteWholeFile(dir / "a", "alpha"));
    PACK_WRITER writer;
    std::string error;
    EXPECT_TRUE(writer.AddRemoval("old.map", &error) && writer.AddFile("a.txt", dir / "a", &error)) << error;
    EXPECT_TRUE(writer.Write(dir / "p.rxpack", &error)) << error;
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / "p.rxpack", &bytes));
    return bytes;
}

uint32_t U32At(const std::string& b, size_t at)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                                 static_cast<unsigned char>(b[at + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}

void Reseal(std::string& b)
{
    PutU32(b, 32, Crc32(0, b.data() + 48, 64 + 14));
}

} // namespace

TEST(PackRemoval, WriterFlagsThePackageAndWritesAnEmptyEntry)
{
    TEMP_DIR dir;
    const std::string b = FlaggedPackage(dir);
    ASSERT_EQ(b.size(), 48u + 64 + 14 + 5);
    EXPECT_EQ(U32At(b, 12), 2u) << "format version";
    EXPECT_EQ(U32At(b, 16), 1u) << "flags: removals";
    EXPECT_EQ(b.substr(48 + 64, 14), std::string("a.txt\0old.map\0", 14));
    EXPECT_EQ(U32At(b, EntryAt(0) + 20), 0u) << "a.txt is a whole file";
    EXPECT_EQ(U32At(b, EntryAt(1) + 20), 1u) << "old.map is a removal";
    EXPECT_EQ(b.substr(EntryAt(1), 20), std::string(12, '\0') + std::string("\x06\0\0\0", 4) + std::string(4, '\0'))
        << "offset 0, size 0, name at 6, CRC 0";
    std::string problem;
    EXPECT_TRUE(CheckPackage(dir / "p.rxpack", &problem)) << problem;

    // Names a removal may not have, as for any entry.
    PACK_WRITER writer;
    for (const char* name : {"../x", "version.txt", "Updater.exe", ".velgrim-update/a"}) {
        std::string error;
        EXPECT_FALSE(writer.AddRemoval(name, &error)) << name;
        EXPECT_FALSE(error.empty());
    }
}

TEST(PackRemoval, CheckerRefusesUnsoundRemovals)
{
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* expected;
    } cases[] = {
        {"flags cleared (version 1)",
         [](std::string& b) {
             PutU32(b, 12, 1);
             PutU32(b, 16, 0);
         },
         "entry 1 (\"old.map\"): a removal in a package whose header does not announce removals"},
        {"flagged but version 1", [](std::string& b) { PutU32(b, 12, 1); }, "format version 1 is not supported"},
        {"unknown flag", [](std::string& b) { PutU32(b, 16, 9); }, "unknown header flags"},
        {"removal with a size",
         [](std::string& b) {
             PutU32(b, EntryAt(1) + 8, 5);
             PutU64(b, EntryAt(1), 48 + 64 + 14);
             Reseal(b);
         },
         "entry 1 (\"old.map\"): a removal with content"},
        {"removal with a CRC",
         [](std::string& b) {
             PutU32(b, EntryAt(1) + 16, 7);
             Reseal(b);
         },
         "a removal with content"},
        {"unknown kind",
         [](std::string& b) {
             PutU32(b, EntryAt(1) + 20, 7);
             Reseal(b);
         },
         "entry 1 (\"old.map\"): unknown entry kind 7"},
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        std::string bytes = FlaggedPackage(dir);
        const std::string before = bytes;
        c.damage(bytes);
        ASSERT_NE(bytes, before) << c.what;
        ASSERT_TRUE(WriteWholeFile(dir / "bad.rxpack", bytes));
        std::string problem;
        EXPECT_FALSE(CheckPackage(dir / "bad.rxpack", &problem)) << c.what;
        EXPECT_NE(problem.find(c.expected), std::string::npos) << c.what << ": " << problem;
    }
}
