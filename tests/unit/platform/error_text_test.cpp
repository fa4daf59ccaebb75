#include <gtest/gtest.h>

#include <string>

#include "pack/pack_index.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "support/temp_dir.h"

// The system's own words for what went wrong, with the path, where a studio meets it: a
// package that is a folder, a package in a folder that is not there.

namespace {

struct CASE {
    const char* what;
    const char* path; // inside the temporary directory
    const char* linux_text;
};

const CASE kCases[] = {
    {"a folder where a file belongs", "folder", "Is a directory (EISDIR)"},
    {"a file in a missing folder", "no-such-folder/patch.rxpack", "No such file or directory (ENOENT)"},
    {"a missing file", "missing.rxpack", "No such file or directory (ENOENT)"},
};

} // namespace

TEST(ErrorText, NamesTheFileErrorInTheSystemsWords)
{
    TEMP_DIR dir;
    ASSERT_TRUE(CreateDirectoryA((dir / "folder").c_str(), nullptr));
    for (const CASE& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / c.path;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_EQ(h, INVALID_HANDLE_VALUE);
        const std::string text = LastErrorText();
        EXPECT_EQ(text.find("system error"), std::string::npos) << text;
#ifndef _WIN32
        EXPECT_EQ(text, c.linux_text);
#else
        EXPECT_NE(text.find("(error "), std::string::npos) << text;
#endif
        // The package reader says it with the path.
        PACK_INDEX index;
        std::string error;
        EXPECT_FALSE(index.Load(path, &error));
        EXPECT_EQ(error, "cannot be opened: " + text) << error;
    }
}

TEST(ErrorText, ACodePutBackKeepsItsWords)
{
    TEMP_DIR dir;
    ASSERT_EQ(CreateFileA((dir / "missing").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
              INVALID_HANDLE_VALUE);
    const std::string before = LastErrorText();
    SetLastError(GetLastError());
    EXPECT_EQ(LastErrorText(), before);
    // A code set by hand has no system text of another error behind it.
    SetLastError(ERROR_DISK_FULL);
    EXPECT_EQ(LastErrorText().find("(ENOENT)"), std::string::npos) << LastErrorText();
}

#ifndef _WIN32
TEST(ErrorText, ABusyPortSaysAddressAlreadyInUse)
{
    EXPECT_EQ(SocketErrorText(EADDRINUSE), "Address already in use (EADDRINUSE)");
}
#endif
