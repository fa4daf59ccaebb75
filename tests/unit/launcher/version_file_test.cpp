#include <gtest/gtest.h>

#include <string>

#include "launcher/version_file.h"
#include "platform/files.h"
#include "support/current_dir.h"
#include "support/temp_dir.h"

namespace {

uint32_t ReadFrom(const std::string& dirPath, uint32_t before)
{
    CURRENT_DIR cd(dirPath);
    g_localVersion = before;
    ReadLocalVersion();
    return g_localVersion;
}

} // namespace

TEST(VersionFile, ReadsByStreamExtraction)
{
    struct CASE {
        const char* content; // null: no file
        uint32_t before;
        uint32_t expected;
    };
    const CASE cases[] = {
        {"  42\n", 0, 42},         // leading blanks and a line end
        {"17 and more", 0, 17},    // nothing after the number is read
        {"4294967295", 0, 4294967295u},
        {nullptr, 9, 9},           // no file: untouched
        {"", 0, 0},                // empty file
        {"abc", 5, 0},             // not a number
    };
    for (const CASE& c : cases) {
        TEMP_DIR dir;
        if (c.content != nullptr) {
            ASSERT_TRUE(WriteWholeFile(dir / "version.txt", c.content));
        }
        EXPECT_EQ(ReadFrom(dir.Path(), c.before), c.expected) << (c.content ? c.content : "(no file)");
    }
}

TEST(VersionFile, WritesBareDigitsAndReplacesWhole)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "version.txt", "  42\n and a long tail that must go"));
    {
        CURRENT_DIR cd(dir.Path());
        ReadLocalVersion();
        EXPECT_EQ(g_localVersion, 42u);
        EXPECT_TRUE(WriteLocalVersion());
    }
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(dir / "version.txt", &bytes));
    EXPECT_EQ(bytes, "42");
    EXPECT_FALSE(FileExists(dir / "version.txt.new"));
}

TEST(VersionFile, FailedWriteKeepsTheOldFile)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "version.txt", "7"));
    // A directory in the way of the temporary file makes the write fail.
    ASSERT_TRUE(CreateDirectoryA((dir / "version.txt.new").c_str(), nullptr));
    {
        CURRENT_DIR cd(dir.Path());
        g_localVersion = 8;
        EXPECT_FALSE(WriteLocalVersion());
    }
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(dir / "version.txt", &bytes));
    EXPECT_EQ(bytes, "7");
}
