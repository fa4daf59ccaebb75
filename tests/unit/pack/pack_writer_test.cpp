#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "pack/crc32.h"
#include "pack/pack_checker.h"
#include "pack/pack_unpacker.h"
#include "pack/pack_writer.h"
#include "pack_test_util.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace pack_test;
namespace fs = std::filesystem;

namespace {

std::string U32(uint32_t v)
{
    std::string s(4, '\0');
    PutU32(s, 0, v);
    return s;
}

std::string U64(uint64_t v)
{
    std::string s(8, '\0');
    PutU64(s, 0, v);
    return s;
}

std::string Bytes(const std::string& path)
{
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
    return bytes;
}

// Every regular file below root, relative and '/'-separated.
std::set<std::string> Files(const std::string& root)
{
    std::set<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file())
            out.insert(fs::relative(item.path(), root).generic_string());
    return out;
}

// Compares two files in pieces, so that large files are not held whole.
bool SameContent(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb)
        return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

} // namespace

TEST(PackCrc32, KnownValuesAndPieces)
{
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(0, "", 0), 0u);
    EXPECT_EQ(Crc32(0, "The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    const std::string data = Pattern(10007);
    const uint32_t whole = Crc32(0, data.data(), data.size());
    EXPECT_EQ(Crc32(Crc32(0, data.data(), 13), data.data() + 13, data.size() - 13), whole);
}

TEST(PackWriter, WritesTheDocumentedLayout)
{
    TEMP_DIR dir;
    fs::create_directories(dir / "tree/a");
    ASSERT_TRUE(WriteWholeFile(dir / "tree/b.txt", "123456789"));
    ASSERT_TRUE(WriteWholeFile(dir / "tree/a/empty", ""));
    PACK_WRITER writer;
    std::string error;
    ASSERT_TRUE(writer.AddTree(dir / "tree", "", &error)) << error;
    ASSERT_TRUE(writer.Write(dir / "out.rxpack", &error)) << error;

    // header | table (2 entries, sorted) | names | contents
    const std::string names = std::string("a/empty\0b.txt\0", 14);
    std::string table = U64(126) + U32(0) + U32(0) + U32(0) + std::string(12, '\0');
    table += U64(126) + U32(9) + U32(8) + U32(0xCBF43926u) + std::string(12, '\0');
    const uint32_t indexCrc = Crc32(0, (table + names).data(), table.size() + names.size());
    std::string expected = std::string("VGRXPACK\r\n\x1a\n", 12) + U32(1) + U32(0) + U32(64) + U64(48) + U32(indexCrc) +
                           U32(14) + U64(112);
    expected += table + names + "123456789";
    EXPECT_EQ(Bytes(dir / "out.rxpack"), expected);
    EXPECT_FALSE(FileExists(dir / "out.rxpack.part"));
}

TEST(PackWriter, SameFilesGiveTheSameBytesWhateverTheOrder)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "x", "xx"));
    ASSERT_TRUE(WriteWholeFile(dir / "y", "yyy"));
    std::string error;
    PACK_WRITER first, second;
    ASSERT_TRUE(first.AddFile("b/y.txt", dir / "y", &error) && first.AddFile("a.txt", dir / "x", &error));
    ASSERT_TRUE(second.AddFile("a.txt", dir / "x", &error) && second.AddFile("b/y.txt", dir / "y", &error));
    ASSERT_TRUE(first.Write(dir / "1.rxpack", &error)) << error;
    ASSERT_TRUE(second.Write(dir / "2.rxpack", &error)) << error;
    EXPECT_EQ(Bytes(dir / "1.rxpack"), Bytes(dir / "2.rxpack"));
}

TEST(PackWriter, RefusesWhatCannotBeUnpackedSafely)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "src", "s"));
    std::string error;
    for (const char* name : {"../up.txt", "/abs", "C:\\x", "nul.txt", "a:b", ""}) {
        PACK_WRITER writer;
        EXPECT_FALSE(writer.AddFile(name, dir / "src", &error)) << name;
        EXPECT_NE(error.find("cannot be unpacked safely"), std::string::npos) << error;
    }
    // Names that differ only in case are one file on Windows, accented letters too (names
    // are UTF-8 on Linux, in the ANSI code page on Windows).
#ifdef _WIN32
    const auto ansi = [](const wchar_t* text) {
        char out[32] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof(out), nullptr, nullptr);
        return std::string(out);
    };
    const std::string cafe = ansi(L"caf\u00E9"), CAFE = ansi(L"CAF\u00C9");
#else
    const std::string cafe = "caf\xC3\xA9", CAFE = "CAF\xC3\x89";
#endif
    const std::pair<std::string, std::string> twinNames[] = {{"Data/A.txt", "data/a.txt"}, {cafe, CAFE}};
    for (const auto& names : twinNames) {
        PACK_WRITER twins;
        ASSERT_TRUE(twins.AddFile(names.first, dir / "src", &error));
        ASSERT_TRUE(twins.AddFile(names.second, dir / "src", &error));
        EXPECT_FALSE(twins.Write(dir / "twins.rxpack", &error)) << names.first;
        EXPECT_NE(error.find("differing only in case"), std::string::npos) << error;
        EXPECT_FALSE(FileExists(dir / "twins.rxpack"));
    }
}

#ifndef _WIN32
// The tree's links and names: a link to a file inside the tree is packed as that file;
// a link elsewhere, a link to a directory, a broken link and a '\' in a name are refused.
TEST(PackWriter, LinksAndBackslashesInTheTree)
{
    struct CASE {
        const char* what;
        const char* link;   // the link's name below the tree, null: none
        const char* target; // what it points at, relative to the tree
        const char* file;   // a file made besides, null: none
        const char* error;  // null: packed
    };
    const CASE cases[] = {
        {"a link to a file inside", "alias.txt", "real.txt", nullptr, nullptr},
        {"a link to a file outside", "alias.txt", "../outside.txt", nullptr, "outside the tree"},
        {"a link to a directory", "alias", "sub", nullptr, "a directory"},
        {"a broken link", "alias.txt", "missing.txt", nullptr, "nothing that exists"},
        {"a backslash in a name", nullptr, nullptr, "a\\b.txt", "directory separator on Windows"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        const std::string tree = dir / "tree";
        fs::create_directories(tree + "/sub");
        ASSERT_TRUE(WriteWholeFile(tree + "/real.txt", "real"));
        ASSERT_TRUE(WriteWholeFile(dir / "outside.txt", "outside"));
        if (c.link != nullptr)
            fs::create_symlink(c.target, tree + "/" + c.link);
        if (c.file != nullptr) {
            ASSERT_TRUE(WriteWholeFile(tree + "/" + c.file, "x"));
        }
        PACK_WRITER writer;
        std::string error;
        const bool added = writer.AddTree(tree, "", &error);
        if (c.error == nullptr) {
            ASSERT_TRUE(added) << error;
            ASSERT_TRUE(writer.Write(dir / "p.rxpack", &error)) << error;
            TEMP_DIR out;
            PACK_UNPACKER unpacker;
            EXPECT_EQ(unpacker.Unpack((dir / "p.rxpack").c_str(), out.Path().c_str(), nullptr), 0);
            EXPECT_EQ(Bytes(out / c.link), "real");
        } else {
            EXPECT_FALSE(added);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            if (c.link != nullptr) {
                EXPECT_NE(error.find(c.link), std::string::npos) << "the error names the link: " << error;
            }
        }
    }
}
#endif

TEST(PackWriter, RefusesAnEntryOver4GiB)
{
    TEMP_DIR dir;
    const std::string huge = dir / "huge.bin";
    {
        std::ofstream create(huge, std::ios::binary);
    }
    fs::resize_file(huge, 0x100000000ull); // sparse: no 4 GiB written
    PACK_WRITER writer;
    std::string error;
    EXPECT_FALSE(writer.AddFile("huge.bin", huge, &error));
    EXPECT_NE(error.find("4294967296 bytes; an entry holds at most 4294967295 bytes"), std::string::npos) << error;
    EXPECT_FALSE(writer.AddTree(dir.Path(), "", &error));
    EXPECT_EQ(writer.Count(), 0u);
}

TEST(PackWriter, FailureLeavesTheOlderPackageAndNoPart)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "old.rxpack", "older package"));
    ASSERT_TRUE(WriteWholeFile(dir / "gone.txt", "soon gone"));
    PACK_WRITER writer;
    std::string error;
    ASSERT_TRUE(writer.AddFile("gone.txt", dir / "gone.txt", &error));
    fs::remove(dir / "gone.txt");
    EXPECT_FALSE(writer.Write(dir / "old.rxpack", &error));
    EXPECT_NE(error.find("gone.txt"), std::string::npos) << error;
    EXPECT_EQ(Bytes(dir / "old.rxpack"), "older package");
    EXPECT_EQ(Files(dir.Path()), std::set<std::string>{"old.rxpack"}) << "no temporary file left";
    PACK_WRITER nowhere;
    EXPECT_FALSE(nowhere.Write(dir / "no/such/dir/p.rxpack", &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(PackWriter, LeavesOutThePackageBeingWrittenInsideTheTree)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a.txt", "a"));
    ASSERT_TRUE(WriteWholeFile(dir / "self.rxpack", "an older self"));
    PACK_WRITER writer;
    std::string error;
    ASSERT_TRUE(writer.AddTree(dir.Path(), dir / "self.rxpack", &error)) << error;
    EXPECT_EQ(writer.Count(), 1u);
}

// A tree with empty files, a deep path and a 100 MiB file, packed and unpacked: the
// same files with the same bytes.
TEST(PackRoundTrip, TreeComesBackByteExact)
{
    TEMP_DIR dir;
    const std::string tree = dir / "tree";
    std::string deep = "deep";
    for (int i = 0; i < 24; ++i)
        deep += "/d" + std::to_string(i);
    fs::create_directories(tree + "/" + deep);
    fs::create_directories(tree + "/empty/dir/with/files");
    ASSERT_TRUE(WriteWholeFile(tree + "/" + deep + "/leaf.txt", "at the bottom"));
    ASSERT_TRUE(WriteWholeFile(tree + "/empty/zero.bin", ""));
    ASSERT_TRUE(WriteWholeFile(tree + "/empty/dir/with/files/also-zero", ""));
    ASSERT_TRUE(WriteWholeFile(tree + "/odd size.dat", Pattern(513, 9)));
    ASSERT_TRUE(WriteWholeFile(tree + "/Velgrim.exe", Pattern(4 * 1024 * 1024 + 1, 10)));
    fs::create_directories(tree + "/data");
    {
        std::ofstream big(tree + "/data/big.pak", std::ios::binary);
        for (int mib = 0; mib < 100; ++mib) {
            const std::string piece = Pattern(1024 * 1024, 100 + mib);
            big.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
        ASSERT_TRUE(static_cast<bool>(big));
    }
    PACK_WRITER writer;
    std::string error;
    ASSERT_TRUE(writer.AddTree(tree, "", &error)) << error;
    ASSERT_TRUE(writer.Write(dir / "tree.rxpack", &error)) << error;
    std::string problem;
    EXPECT_TRUE(CheckPackage(dir / "tree.rxpack", &problem)) << problem;

    const std::string out = dir / "out";
    EXPECT_EQ(PACK_UNPACKER().Unpack((dir / "tree.rxpack").c_str(), out.c_str(), nullptr), UNPACK_OK);
    const std::set<std::string> files = Files(tree);
    EXPECT_EQ(files.size(), 6u);
    EXPECT_EQ(Files(out), files);
    for (const std::string& f : files)
        EXPECT_TRUE(SameContent(tree + "/" + f, out + "/" + f)) << f;
    EXPECT_EQ(fs::file_size(out + "/data/big.pak"), 100u * 1024 * 1024);
}
