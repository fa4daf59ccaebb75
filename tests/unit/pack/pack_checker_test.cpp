#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "pack/crc32.h"
#include "pack/pack_checker.h"
#include "pack/pack_writer.h"
#include "pack_test_util.h"
#include "protocol/own_names.h"
#include "support/temp_dir.h"

using namespace pack_test;

namespace {

// a.txt, b.txt and c.bin as rxpack writes them: header 48, table 96, names 18, contents.
std::string GoodPackage(const TEMP_DIR& dir)
{
    EXPECT_TRUE(WriteWholeFile(dir / "a", "alpha"));
    EXPECT_TRUE(WriteWholeFile(dir / "b", "bravo"));
    EXPECT_TRUE(WriteWholeFile(dir / "c", Pattern(3000)));
    PACK_WRITER writer;
    std::string error;
    EXPECT_TRUE(writer.AddFile("a.txt", dir / "a", &error) && writer.AddFile("b.txt", dir / "b", &error) &&
                writer.AddFile("c.bin", dir / "c", &error));
    EXPECT_TRUE(writer.Write(dir / "good.rxpack", &error)) << error;
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / "good.rxpack", &bytes));
    return bytes;
}

// After editing the table or names, the index checksum is made right again, so that the
// check reaches the problem planted behind it.
void Reseal(std::string& bytes)
{
    PutU32(bytes, 32, Crc32(0, bytes.data() + 48, 96 + 18));
}

} // namespace

TEST(PackChecker, SoundPackagePasses)
{
    TEMP_DIR dir;
    const std::string bytes = GoodPackage(dir);
    ASSERT_EQ(bytes.size(), 48u + 96 + 18 + 5 + 5 + 3000);
    std::string problem;
    EXPECT_TRUE(CheckPackage(dir / "good.rxpack", &problem)) << problem;
}

TEST(PackChecker, FindsTheFirstProblem)
{
    const size_t names = 48 + 96;       // "a.txt\0b.txt\0c.bin\0"
    const size_t contents = names + 18; // a.txt, b.txt, c.bin
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* expected;
    } cases[] = {
        {"content byte", [&](std::string& b) { b[contents + 6] ^= 1; },
         "entry 1 (\"b.txt\"): content checksum mismatch"},
        {"stored checksum", [](std::string& b) { b[EntryAt(2) + 16] ^= 0x80; },
         "index checksum mismatch"},
        {"data offset past the end",
         [](std::string& b) {
             PutU64(b, EntryAt(2), b.size() - 100);
             Reseal(b);
         },
         "entry 2 (\"c.bin\"): content (offset"},
        {"data size past the end",
         [](std::string& b) {
             PutU32(b, EntryAt(0) + 8, 0xFFFFFFFFu);
             Reseal(b);
         },
         "runs past the end of the file"},
        {"truncated", [](std::string& b) { b.resize(b.size() - 1); }, "entry 2 (\"c.bin\"): content"},
        {"name offset outside",
         [](std::string& b) {
             PutU32(b, EntryAt(1) + 12, 18);
             Reseal(b);
         },
         "entry 1: name offset 18 is outside the name block"},
        {"no terminator",
         [&](std::string& b) {
             b[names + 17] = 'X';
             Reseal(b);
         },
         "entry 2: the name at offset 12 has no terminator"},
        {"unsafe name",
         [&](std::string& b) {
             b.replace(names + 6, 5, "../bb");
             Reseal(b);
         },
         "entry 1 (\"../bb\"): unsafe name"},
        {"same name twice",
         [&](std::string& b) {
             b.replace(names + 6, 5, "A.TXT");
             Reseal(b);
         },
         "entry 1 (\"A.TXT\"): names the same file as entry 0"},
        {"reserved bytes", [](std::string& b) {
             b[EntryAt(0) + 31] = 1;
             Reseal(b);
         },
         "entry 0 (\"a.txt\"): reserved bytes are not zero"},
        {"magic", [](std::string& b) { b[3] = 'Z'; }, "no rxpack magic"},
        {"version", [](std::string& b) { PutU32(b, 12, 2); }, "format version 2 is not supported"},
        {"table size", [](std::string& b) { PutU32(b, 20, 95); }, "the table size 95 is not a multiple of 32"},
        {"table offset", [](std::string& b) { PutU64(b, 24, 1u << 30); }, "the entry table (offset 1073741824"},
        {"name block size", [](std::string& b) { PutU32(b, 36, 1u << 20); }, "the name block (offset 144, 1048576"},
        {"short header", [](std::string& b) { b.resize(40); }, "the header is short"},
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        std::string bytes = GoodPackage(dir);
        c.damage(bytes);
        ASSERT_TRUE(WriteWholeFile(dir / "bad.rxpack", bytes));
        std::string problem;
        EXPECT_FALSE(CheckPackage(dir / "bad.rxpack", &problem)) << c.what;
        EXPECT_NE(problem.find(c.expected), std::string::npos) << c.what << ": " << problem;
    }
    TEMP_DIR dir;
    std::string problem;
    EXPECT_FALSE(CheckPackage(dir / "missing.rxpack", &problem));
    EXPECT_NE(problem.find("cannot be opened"), std::string::npos) << problem;
}

// The launcher's own names can never be an entry: rxpack does not pack one, and no
// package naming one passes the check before it is applied or served, whoever made it.
// Names that merely look alike are ordinary names.
TEST(PackChecker, TheLaunchersOwnNamesAreNeverPacked)
{
    struct CASE {
        const char* name;
        bool own;
    };
    const CASE cases[] = {
        {"Updater.exe", true},          {"UPDATER.EXE", true},
        {"UpdaterNew.exe", true},       {"velgrim_update.lock", true},
        {"version.txt", true},          {"./Version.TXT", true},
        {"Velgrim_patch.rxpack", true}, {"version.txt.new", true},
        {"UpdaterNew.exe.Resume", true}, {"Velgrim_patch.rxpack.resume.new", true},
        {".velgrim-update/files/a", true}, {".Velgrim-Update\\journal", true},
        {"..cfg", false},               {"data/version.txt", false},
        {"version.txt.bak", false},     {".velgrim-updates", false},
        // Short aliases Windows resolves to a long name, maybe one of ours, on every target.
        {"VERSIO~1.TXT", true},         {"updat~12.exe", true},
        {"VELGRI~1/journal", true},     {"data/MAPS~3/a.map", true},
        {"save~a.dat", false},          {"long-name~1.dat", false},
        {"a~1.json", false},            {"~1", true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsOwnName(c.name), c.own);
        TEMP_DIR dir;
        ASSERT_TRUE(WriteWholeFile(dir / "content", "x"));
        PACK_WRITER writer;
        std::string error;
        EXPECT_EQ(writer.AddFile(c.name, dir / "content", &error), !c.own);
        if (c.own) {
            EXPECT_NE(error.find(std::string("\"") + c.name + "\" is a name the launcher keeps"), std::string::npos)
                << error;
        }
        ASSERT_TRUE(WriteWholeFile(dir / "foreign.rxpack", BuildPackage({{"readme.txt", "r"}, {c.name, "x"}})));
        std::string problem;
        EXPECT_EQ(VerifyPackage(dir / "foreign.rxpack", &problem), !c.own) << problem;
        if (c.own) {
            EXPECT_NE(problem.find(std::string("entry 1 (\"") + c.name + "\"): the launcher keeps"),
                      std::string::npos)
                << problem;
        }
    }
}
