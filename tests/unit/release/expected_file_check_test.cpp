#include <gtest/gtest.h>

#include <string>

#include "release/expected_file_check.h"

TEST(ExpectedFileCheck, WantsExactlyTheSizeAndHashFedInAnyPieces)
{
    const std::string file = std::string(70000, 'x') + "tail";
    MANIFEST_FILE expected;
    expected.size = static_cast<uint32_t>(file.size());
    ASSERT_TRUE(Sha256(file.data(), file.size(), expected.sha256));

    struct CASE {
        const char* what;
        std::string bytes;
        size_t piece;
        bool fedAll;        // every Feed returned true
        const char* problem; // null: matches
    };
    std::string altered = file;
    altered[12345] = 'y';
    const CASE cases[] = {
        {"whole", file, file.size(), true, nullptr},
        {"in odd pieces", file, 1000, true, nullptr},
        {"byte by byte", file, 1, true, nullptr},
        {"one byte altered", altered, 4096, true, "SHA-256 differs"},
        {"one byte short", file.substr(0, file.size() - 1), 4096, true, "70003 bytes instead of 70004"},
        {"nothing", "", 1, true, "0 bytes instead of 70004"},
        {"one byte more", file + "!", 4096, false, "70005 bytes instead of 70004"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECTED_FILE_CHECK check(expected);
        bool fedAll = true;
        for (size_t at = 0; at < c.bytes.size(); at += c.piece)
            fedAll = check.Feed(c.bytes.data() + at, std::min(c.piece, c.bytes.size() - at)) && fedAll;
        EXPECT_EQ(fedAll, c.fedAll);
        EXPECT_EQ(check.Received(), c.bytes.size());
        std::string problem;
        EXPECT_EQ(check.Finish(&problem), c.problem == nullptr) << problem;
        if (c.problem != nullptr) {
            EXPECT_EQ(problem, c.problem);
        }
    }
}
