#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pack/entry_name.h"
#include "pack/pack_path.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

TEST(PackPath, JoinPathPutsOneSeparatorBetween)
{
    const struct {
        const char* dir;
        const char* name;
        const char* expected;
    } cases[] = {
        {"game", "a.txt", "game" SEP "a.txt"},
        {"game/", "a.txt", "game/a.txt"},
#ifdef _WIN32
        {"game\\", "a.txt", "game\\a.txt"},
        {"C:\\Games\\Velgrim", "data/x.bin", "C:\\Games\\Velgrim\\data/x.bin"},
#else
        // '\' is a separator here too: every one becomes '/'.
        {"game\\", "a.txt", "game/a.txt"},
        {"/srv/velgrim", "data\\maps\\x.bin", "/srv/velgrim/data/maps/x.bin"},
#endif
        // No directory: the name alone, relative, never "\name" at the root.
        {"", "a.txt", "a.txt"},
        {nullptr, "a.txt", "a.txt"},
        {"game", "", "game" SEP},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(JoinPath(out, sizeof(out), c.dir, c.name), out) << c.dir;
        EXPECT_STREQ(out, c.expected) << (c.dir ? c.dir : "(null)");
    }
}

TEST(PackPath, JoinPathRefusesWhatDoesNotFit)
{
    // "ab" + separator + "cd" is 5 characters: it fits in 6 bytes, not in 5.
    char out[8];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(JoinPath(out, 6, "ab", "cd"), out);
    EXPECT_EQ(std::strlen(out), 5u);
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(JoinPath(out, 5, "ab", "cd"), nullptr);
    EXPECT_EQ(out[5], 'x'); // nothing past the buffer it was given
    EXPECT_EQ(JoinPath(out, 0, "ab", "cd"), nullptr);
    EXPECT_EQ(JoinPath(out, 3, "a/", ""), out);
    EXPECT_EQ(JoinPath(out, 3, "ab", ""), nullptr);
}

TEST(PackPath, CreatePathAndFileMakesEveryDirectoryOnTheWay)
{
    TEMP_DIR dir;
    const std::string path = dir / "one/two\\three/file.bin";
    HANDLE file = CreatePathAndFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    CloseHandle(file);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(dir / "one/two/three/file.bin", &bytes));
    EXPECT_EQ(bytes, "abc");
    // Existing directories are fine; an existing file is replaced.
    file = CreatePathAndFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    ASSERT_TRUE(ReadWholeFile(dir / "one/two/three/file.bin", &bytes));
    EXPECT_EQ(bytes, "");
    // A file in the way of a directory: the open fails.
    ASSERT_TRUE(WriteWholeFile(dir / "plain", "x"));
    const std::string blocked = dir / "plain/inner.txt";
    EXPECT_EQ(CreatePathAndFile(blocked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST(PackEntryName, SafeNames)
{
    for (const char* name : {"a.txt", "data/maps/town.map", "data\\maps\\town.map", "./a.txt", "a//b.txt", ".hidden",
                             "a..b.txt", "CONSOLE.txt", "nul_file.txt", "COM10.txt", "COM.txt", "LPT", "con_d/x.txt",
                             "x.con", "auxiliary/file", "name with spaces.txt", "\xC0\xE1\xE2.txt"})
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
}

TEST(PackEntryName, UnsafeNames)
{
    for (const char* name : {"", "/etc/passwd", "\\Windows\\x.dll", "\\\\host\\share\\x", "//host/share/x",
                             "C:x", "C:\\x", "d:/x", "..", "../x", "a/../../x", "a\\..\\x", "a/..", "...", "a/.../b",
                             ".. ", "x:y", "x::$DATA", "CON", "con.txt", "dir/Nul.tar.gz", "AUX", "prn", "COM1",
                             "com0.x", "LPT9", "COM\xB2", "CLOCK$", "CONIN$", "nul .txt", "con/x.txt", ".", "a/.",
                             "a/", "a\\", "dot.", "space ", "tab\t.txt", "del\x7F", "a*b", "a?b", "a\"b", "a<b",
                             "a>b", "a|b"})
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    EXPECT_FALSE(IsSafeEntryName(nullptr));
}
