#include <gtest/gtest.h>

#include <string>

#include "protocol/update_protocol.h"
#include "release_plan.h"
#include "version_list.h"

namespace {

constexpr uint64_t GiB = 1ull << 30;

LISTED_FILE File(const std::string& name, uint64_t size, uint8_t content)
{
    LISTED_FILE f;
    f.name = name;
    f.size = size;
    f.sha256[0] = content;
    return f;
}

VERSION_LIST List(uint32_t version, std::vector<LISTED_FILE> files)
{
    VERSION_LIST list;
    list.version = version;
    list.files = std::move(files);
    return list;
}

} // namespace

// Only the cumulative package travels in the plain answer (32-bit size); the others pass 4 GiB.
TEST(ReleasePlan, OnlyTheCumulativePackageIsHeldTo4GiB)
{
    const VERSION_LIST next = List(3, {File("big.pak", 3 * GiB, 1), File("more.pak", 2 * GiB, 2)});
    const VERSION_LIST hasBig = List(2, {File("big.pak", 3 * GiB, 1)});
    const VERSION_LIST hasNone = List(1, {});
    const VERSION_LIST huge = List(3, {File("huge.pak", 4 * GiB, 1)});
    const struct {
        const char* what;
        const VERSION_LIST* next;
        std::vector<const VERSION_LIST*> kept;
        const char* problem; // "" when fine
    } cases[] = {
        {"a kept version lacks both: 5 GiB cumulative", &next, {&hasNone, &hasBig}, "the cumulative package would be"},
        {"every kept version has big.pak: 2 GiB cumulative, 5 GiB full and from-2", &next, {&hasBig}, ""},
        {"nothing kept: the cumulative is everything", &next, {}, "above 4 GiB"},
        {"an entry of 4 GiB", &huge, {}, "huge.pak is 4294967296 bytes; a package entry holds at most 4294967295"},
    };
    for (const auto& c : cases) {
        const RELEASE_PLAN plan = PlanRelease(*c.next, c.kept);
        const std::string problem = ReleaseLimitProblem(*c.next, plan);
        if (*c.problem == '\0')
            EXPECT_EQ(problem, "") << c.what;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    }
    const RELEASE_PLAN fine = PlanRelease(next, {&hasBig});
    EXPECT_GT(fine.Full().Bytes(), 4 * GiB);
    EXPECT_GT(fine.packages[0].Bytes(), 2 * GiB);
    EXPECT_EQ(fine.packages[0].base, 2u);
}

TEST(VersionList, ReadsOnlyItsOneSpelling)
{
    VERSION_LIST list = List(3, {File("a b/c.txt", 12, 0xab), File("z", 0, 1)});
    list.updaterVersion = 1100;
    list.updater = File("", 77, 9);
    const std::string good = FormatVersionList(list);
    VERSION_LIST read;
    std::string error;
    bool newer = true;
    ASSERT_TRUE(ParseVersionList(good, &read, &error, &newer)) << error;
    EXPECT_FALSE(newer);
    EXPECT_EQ(FormatVersionList(read), good);
    ASSERT_NE(read.Find("a b/c.txt"), nullptr) << "a name may hold spaces";
    EXPECT_TRUE(read.Find("a b/c.txt")->SameContent(list.files[0]));

    const std::string sha(64, '0');
    const std::string head = "velgrim-version 1\nversion 3\nupdater 0\n";
    const struct {
        std::string text;
        const char* error;
        bool newer;
    } cases[] = {
        {"velgrim-version 2\n" + head.substr(18), "line 1: version list format 2 is not known", true},
        {"velgrim-version 0\n" + head.substr(18), "line 1: version list format 0", false},
        {head + "file " + sha + " 1 b\nfile " + sha + " 1 a\n", "line 5: 'a' is out of order", false},
        {head + "file " + sha + " 1 a\nfile " + sha + " 1 a\n", "line 5: 'a' is out of order or listed twice", false},
        {head + "file " + sha + " 01 a\n", "line 4: expected 'file SHA256 SIZE NAME'", false},
        {head + "file " + sha + " 1 \n", "line 4: expected 'file", false},
        {head + "file " + sha + " 1 a", "the last line does not end", false},
        {"velgrim-version 1\nversion 3\nupdater 1100\n", "line 3: expected 'updater 0' or", false},
        {"velgrim-version 1\nversion 3\nupdater 0 " + sha + " 5\n", "line 3: expected 'updater 0' or", false},
        {"velgrim-version 1\nversion x\nupdater 0\n", "line 2: expected 'version N'", false},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseVersionList(c.text, &read, &error, &newer)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
        EXPECT_EQ(newer, c.newer) << c.text;
    }
}
