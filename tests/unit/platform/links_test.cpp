// What the launcher writes, removes or empties under its own names is the thing at that
// name, never what a link there points at. Links are planted natively (Wine shows a Unix
// link to a file as the file itself).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/links.h"
#include "platform/replacing_file.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder and a file outside, each with content that must survive.
struct OUTSIDE {
    TEMP_DIR dir;
    OUTSIDE()
    {
        EXPECT_TRUE(CreateDirectoryA((dir / "folder").c_str(), nullptr));
        EXPECT_TRUE(WriteWholeFile(dir / "folder/keep.txt", "keep"));
        EXPECT_TRUE(WriteWholeFile(dir / "victim.txt", "outside"));
    }
    void ExpectUntouched() const
    {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(dir / "folder/keep.txt", &bytes) && bytes == "keep");
        EXPECT_TRUE(ReadWholeFile(dir / "victim.txt", &bytes) && bytes == "outside");
    }
};

bool IsRealDirectory(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

TEST(Links, OwnNamesAreNeverWrittenRemovedOrEmptiedThroughALink)
{
    OUTSIDE outside;
    TEMP_DIR game;
    ASSERT_EQ(symlink((outside.dir / "victim.txt").c_str(), (game / "own.part").c_str()), 0);
    ASSERT_EQ(symlink((outside.dir / "folder").c_str(), (game / "staging").c_str()), 0);
    EXPECT_TRUE(IsLink((game / "own.part").c_str()) && IsLink((game / "staging").c_str()));
    EXPECT_FALSE(IsLink((outside.dir / "victim.txt").c_str()));

    FILE_HANDLE file(OpenOwnFile((game / "own.part").c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file.Valid());
    EXPECT_FALSE(IsLink((game / "own.part").c_str()));
    file.Close();
    EXPECT_TRUE(MakeOwnDirectory((game / "staging").c_str()));
    EXPECT_TRUE(IsRealDirectory(game / "staging"));
    outside.ExpectUntouched();

    // A tree with links inside is removed without entering them.
    ASSERT_TRUE(CreateDirectoryA((game / "tree").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((game / "tree/sub").c_str(), nullptr));
    ASSERT_EQ(symlink((outside.dir / "folder").c_str(), (game / "tree/sub/into").c_str()), 0);
    ASSERT_EQ(symlink((outside.dir / "victim.txt").c_str(), (game / "tree/file").c_str()), 0);
    EXPECT_TRUE(RemoveTree((game / "tree").c_str()));
    EXPECT_FALSE(FileExists(game / "tree"));
    // A link where the tree was is the link alone.
    ASSERT_EQ(symlink((outside.dir / "folder").c_str(), (game / "tree").c_str()), 0);
    EXPECT_TRUE(RemoveTree((game / "tree").c_str()));
    outside.ExpectUntouched();
}
#endif

// The temporary file is on the disk before it takes the target's name.
TEST(Links, AReplacingFileIsOnTheDiskBeforeItsName)
{
    TEMP_DIR dir;
    static std::vector<std::string> steps;
    steps.clear();
    g_durableStepObserver = [](const char* step, const char* path) {
        std::string p = path;
        steps.push_back(std::string(step) + " " + p.substr(p.find_last_of("/\\") + 1));
    };
    REPLACING_FILE out(dir / "version.txt", ".new");
    const bool written = out.Create() && out.Write("7", 1) && out.Commit();
    g_durableStepObserver = nullptr;
    ASSERT_TRUE(written);
    std::vector<std::string> expected = {"flush version.txt.new", "rename version.txt"};
#ifndef _WIN32
    expected.push_back("flushdir " + dir.Path().substr(dir.Path().find_last_of('/') + 1));
#endif
    EXPECT_EQ(steps, expected);
}
