#include <gtest/gtest.h>

#include <string>

#include "test_program.h"
#include "updater_resource.h"

using namespace test_program;

TEST(UpdaterResource, ReadsTheVersionTheBuildWrote)
{
    for (uint32_t version : {1024u, 1100u, 65535u, 65536u, 70000u, 4294967295u}) {
        uint32_t read = 0;
        std::string error;
        EXPECT_TRUE(ReadUpdaterVersion(Updater(version), &read, &error)) << version << ": " << error;
        EXPECT_EQ(read, version);
    }
}

TEST(UpdaterResource, RefusesAProgramWithoutATrustworthyVersion)
{
    VERSION_RESOURCE disagree; // says 1100, fields say 1101
    disagree.fileVersionMs = 1101u << 16;
    disagree.text = "1100";
    VERSION_RESOURCE shifted = disagree; // version 5 is 5.0.0.0
    shifted.fileVersionMs = 5u;
    shifted.text = "5";
    VERSION_RESOURCE leading = disagree;
    leading.fileVersionMs = 1100u << 16;
    leading.text = "01100";
    VERSION_RESOURCE words = leading;
    words.text = "1.1";
    VERSION_RESOURCE other = leading;
    other.text = "1100";
    other.stringKey = "ProductVersion";
    VERSION_RESOURCE none = other;
    none.withResource = false;
    std::string cut = Updater(1100);
    cut.resize(cut.size() - 40);
    const struct {
        const char* what;
        std::string bytes;
        const char* error;
    } cases[] = {
        {"not a Windows program", "\x7f" "ELF\2\1\1" + std::string(200, '\0'), "is not a Windows program"},
        {"empty", "", "is not a Windows program"},
        {"no resource", Program(none), "has no version resource"},
        {"fields disagree", Program(disagree), "FileVersion 1100 disagrees with its binary version 1101.0.0.0"},
        {"fields of another layout", Program(shifted), "FileVersion 5 disagrees with its binary version 0.5.0.0"},
        {"leading zero", Program(leading), "is not an updater version: '01100'"},
        {"not a number", Program(words), "is not an updater version: '1.1'"},
        {"no FileVersion", Program(other), "has no FileVersion text"},
        {"cut short", cut, "has no FileVersion text"},
    };
    for (const auto& c : cases) {
        uint32_t read = 7;
        std::string error;
        EXPECT_FALSE(ReadUpdaterVersion(c.bytes, &read, &error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(read, 7u) << c.what;
    }
}
