// What the launcher writes, removes or empties under its own names is the thing at that
// name, never what a link there points at. Links are planted natively (Wine shows a Unix
// link to a file as the file itself).
#include <gtest/gtest.h>

#include <functional>
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

// A FIFO or a hard link to a file elsewhere, at one of our own names, as each is opened
// (a download's part reopened, its record read, a temporary created, the lock): the open
// never waits, the name is made a plain file of ours or found empty, and the file
// elsewhere keeps its bytes.
TEST(Links, FifosAndHardLinksAtOwnNamesAreRemovedNotUsed)
{
    struct CASE {
        const char* what;
        std::function<bool(const std::string&)> open;
        bool created; // the open makes a file of its own; otherwise it finds none
    };
    const CASE cases[] = {
        {"a part reopened", [](const std::string& p) { REPLACING_FILE f(p.substr(0, p.size() - 5)); return f.Reopen(0); },
         false},
        {"a record read",
         [](const std::string& p) { return FILE_HANDLE(OpenOwnFile(p.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)).Valid(); },
         false},
        {"a temporary created",
         [](const std::string& p) {
             REPLACING_FILE f(p.substr(0, p.size() - 5));
             return f.Create() && f.Write("new", 3) && (f.Keep(), true);
         },
         true},
        {"the lock taken",
         [](const std::string& p) { return FILE_HANDLE(OpenOwnFile(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS)).Valid(); },
         true},
    };
    for (const bool fifo : {true, false}) {
        for (const CASE& c : cases) {
            SCOPED_TRACE(std::string(fifo ? "a FIFO: " : "a hard link: ") + c.what);
            OUTSIDE outside;
            TEMP_DIR game;
            const std::string own = game / "Velgrim_patch.rxpack.part";
            ASSERT_EQ(fifo ? mkfifo(own.c_str(), 0600) : link((outside.dir / "victim.txt").c_str(), own.c_str()), 0);
            EXPECT_EQ(c.open(own), c.created);
            struct stat st {};
            if (c.created)
                EXPECT_TRUE(lstat(own.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1);
            else
                EXPECT_NE(lstat(own.c_str(), &st), 0) << "removed";
            outside.ExpectUntouched();
            EXPECT_TRUE(stat((outside.dir / "victim.txt").c_str(), &st) == 0 && st.st_nlink == 1);
        }
    }
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
    std::vector<std::string> expected = {"flush version.txt.new", "rename version.txt",
                                         "flushdir " + dir.Path().substr(dir.Path().find_last_of("/\\") + 1)};
    EXPECT_EQ(steps, expected);
}

// A folder flush opens the folder itself, on every target (on Windows with backup
// semantics): a folder that is not there cannot be flushed, one that is can.
TEST(Links, AFolderFlushOpensTheFolder)
{
    TEMP_DIR dir;
    ASSERT_TRUE(CreateDirectoryA((dir / "made").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(dir / "made/file", "x"));
    EXPECT_TRUE(FlushDirectory(dir / "made"));
    EXPECT_FALSE(FlushDirectory(dir / "missing"));
    DURABLE_DIRECTORIES batch;
    batch.Add(dir / "made");
    batch.AddFile(dir / "made/file");
    EXPECT_TRUE(batch.Flush());
}

// A hard link to a file elsewhere, planted at one of our names, on every target (Wine makes
// them too): a temporary written there and a record read there never reach that file.
TEST(Links, AHardLinkAtAnOwnNameIsNeverWrittenThrough)
{
    TEMP_DIR dir;
    const std::string victim = dir / "victim.txt";
    const std::string own = dir / "version.txt.new";
    const auto plant = [&]() {
#ifdef _WIN32
        return CreateHardLinkA(own.c_str(), victim.c_str(), nullptr) != FALSE;
#else
        return link(victim.c_str(), own.c_str()) == 0;
#endif
    };
    ASSERT_TRUE(WriteWholeFile(victim, "outside"));
    ASSERT_TRUE(plant());
    REPLACING_FILE out(dir / "version.txt", ".new");
    ASSERT_TRUE(out.Create() && out.Write("8", 1) && out.Commit());
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(victim, &bytes) && bytes == "outside") << bytes;
    EXPECT_TRUE(ReadWholeFile(dir / "version.txt", &bytes) && bytes == "8") << bytes;
    ASSERT_TRUE(plant());
    EXPECT_FALSE(FILE_HANDLE(OpenOwnFile(own.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)).Valid());
    EXPECT_FALSE(FileExists(own)) << "the shared name is removed";
    EXPECT_TRUE(ReadWholeFile(victim, &bytes) && bytes == "outside") << bytes;
}
