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

TEST(VersionFile, ReadsAsStreamExtractionDoes)
{
    struct CASE {
        const char* content; // null: no file
        uint32_t before;
        uint32_t expected;
    };
    const CASE cases[] = {
        {"  42\n", 0, 42},                      // leading blanks and a line end
        {"\t\v\f\r\n 7", 0, 7},                // every blank the C locale knows
        {"17 and more", 0, 17},                 // nothing after the number is read
        {"12abc", 0, 12},
        {"5.9", 0, 5},
        {"1,000", 0, 1},
        {"0000000000000000000000000042", 0, 42}, // leading zeros, however many
        {"0", 5, 0},
        {"0x10", 5, 0},                         // decimal only
        {"+5", 0, 5},
        {"-0", 5, 0},
        {"-1", 0, 4294967295u},                 // a minus wraps around
        {"-4294967295", 0, 1},
        {"4294967295", 0, 4294967295u},
        {"4294967296", 0, 4294967295u},         // too large: the largest value
        {"99999999999999999999999", 0, 4294967295u},
        {"-4294967296", 0, 4294967295u},
        {nullptr, 9, 9},                        // no file: untouched
        {"", 9, 9},                             // empty: untouched
        {" \r\n\t ", 9, 9},                     // blanks only: untouched
        {"abc", 5, 0},                          // not a number: 0
        {"-", 5, 0},
        {"+", 5, 0},
        {"- 5", 5, 0},
        {"+-5", 5, 0},
        {".5", 5, 0},
        {"\xA0" "5", 5, 0},                     // no blank outside the C locale
    };
    for (const CASE& c : cases) {
        TEMP_DIR dir;
        if (c.content != nullptr) {
            ASSERT_TRUE(WriteWholeFile(dir / "version.txt", c.content));
        }
        EXPECT_EQ(ReadFrom(dir.Path(), c.before), c.expected) << (c.content ? c.content : "(no file)");
    }
}

TEST(VersionFile, ReadsPastLongBlanksAndZeros)
{
    // Far more than any read buffer, on both sides of the digits; a NUL is no blank.
    const std::string blanks(100000, ' ');
    const std::string zeros(100000, '0');
    const struct {
        std::string content;
        uint32_t expected;
    } cases[] = {
        {blanks + "8", 8},
        {blanks + "-" + zeros + "3 tail", 4294967293u},
        {zeros + "4294967295" + blanks, 4294967295u},
        {std::string(30000, '9'), 4294967295u},
        {std::string("\0" "5", 2), 0},
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        ASSERT_TRUE(WriteWholeFile(dir / "version.txt", c.content));
        EXPECT_EQ(ReadFrom(dir.Path(), 5), c.expected) << c.content.size() << " bytes";
    }
}

TEST(VersionFile, ADirectoryInItsPlaceLeavesTheVersion)
{
    TEMP_DIR dir;
    ASSERT_TRUE(CreateDirectoryA((dir / "version.txt").c_str(), nullptr));
    EXPECT_EQ(ReadFrom(dir.Path(), 9), 9u);
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
