// Applying a patch to a game directory, with faults injected before and during the swap:
// the game files are always whole, either all old or (after a start finishes the swap)
// all new.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>

#include "apply/patch_applier.h"
#include "common/rx_exs.h"
#include "pack/pack_writer.h"
#include "platform/files.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

using TREE = std::map<std::string, std::string>;

const TREE kOld = {{"a.txt", "old a"}, {"data/b.bin", "old b"}, {"keep.txt", "not in the patch"}};
const TREE kPatch = {{"a.txt", "new a"}, {"data/b.bin", std::string(3000, 'b')}, {"data/maps/c.txt", "new c"}};

// Every file below root (the staging area included) with its bytes.
TREE Snapshot(const std::string& root)
{
    TREE tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && !it->is_symlink()) {
            std::string bytes;
            ReadWholeFile(it->path().string(), &bytes);
            tree[it->path().lexically_relative(root).generic_string()] = bytes;
        }
    }
    return tree;
}

TREE Expected(const TREE& files, bool patched)
{
    TREE tree = files;
    if (patched)
        for (const auto& f : kPatch)
            tree[f.first] = f.second;
    return tree;
}

void Write(const std::string& root, const TREE& tree)
{
    for (const auto& f : tree) {
        fs::create_directories(fs::path(root + "/" + f.first).parent_path());
        ASSERT_TRUE(WriteWholeFile(root + "/" + f.first, f.second));
    }
}

// A game directory at the old version, and the patch as rxpack makes it, beside it.
class Apply : public ::testing::Test {
public:
    void SetUp() override
    {
        game = dir / "game";
        package = game + "/Velgrim_patch.rxpack";
        fs::create_directories(game);
        Write(game, kOld);
        Write(dir / "content", kPatch);
        PACK_WRITER writer;
        std::string error;
        ASSERT_TRUE(writer.AddTree(dir / "content", "", &error)) << error;
        ASSERT_TRUE(writer.Write(package, &error)) << error;
        ASSERT_TRUE(ReadWholeFile(package, &packageBytes));
    }
    void TearDown() override { g_applyStepHook = nullptr; }
    // A fresh game directory and package, for the next case of a table.
    void Reset()
    {
        TearDown();
        fs::remove_all(dir.Path());
        fs::create_directories(dir.Path());
        SetUp();
    }

    // The game files alone: neither the package nor the launcher's staging area.
    TREE GameFiles()
    {
        TREE tree = Snapshot(game);
        tree.erase("Velgrim_patch.rxpack");
        return tree;
    }

    TEMP_DIR dir;
    std::string game;
    std::string package;
    std::string packageBytes;
    PACK_UNPACKER unpacker;
};

} // namespace

TEST_F(Apply, APatchIsPutInWholeAndFinished)
{
    PATCH_APPLIER applier(game, unpacker);
    ASSERT_TRUE(applier.Apply(package, 7, nullptr)) << applier.Problem();
    EXPECT_EQ(GameFiles().count("a.txt"), 1u);
    applier.Finish(package);
    EXPECT_EQ(Snapshot(game), Expected(kOld, true)) << "no package, staging area or journal left";
    uint32_t version = 0;
    EXPECT_EQ(PATCH_APPLIER(game, unpacker).Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_NONE);
}

// A damaged package or a target that cannot be replaced: the failure is found before any
// game file changes, and is named.
TEST_F(Apply, FailuresBeforeTheSwapChangeNoGameFile)
{
    struct CASE {
        const char* what;
        std::function<void(Apply&)> inject;
        const char* problem;
    };
    const CASE cases[] = {
        {"a package cut short",
         [](Apply& t) { ASSERT_TRUE(WriteWholeFile(t.package, t.packageBytes.substr(0, t.packageBytes.size() - 9))); },
         "runs past the end of the file"},
        {"a package with a damaged entry",
         [](Apply& t) {
             std::string bytes = t.packageBytes;
             bytes[bytes.size() - 10] ^= 0x01;
             ASSERT_TRUE(WriteWholeFile(t.package, bytes));
         },
         "content checksum mismatch"},
        {"a read-only target",
         [](Apply& t) { ASSERT_TRUE(SetFileAttributesA((t.game + "/a.txt").c_str(), FILE_ATTRIBUTE_READONLY)); },
         "a.txt is read-only"},
        {"a directory where a file goes",
         [](Apply& t) { fs::create_directories(t.game + "/data/maps/c.txt/inner"); },
         "data/maps/c.txt is a directory"},
        {"a file where a directory goes", [](Apply& t) { ASSERT_TRUE(WriteWholeFile(t.game + "/data/maps", "file")); },
         "data/maps is a file"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.inject(*this);
        const TREE before = GameFiles();
        PATCH_APPLIER applier(game, unpacker);
        EXPECT_FALSE(applier.Apply(package, 7, nullptr));
        EXPECT_NE(applier.Problem().find(c.problem), std::string::npos) << applier.Problem();
        EXPECT_EQ(GameFiles(), before);
        EXPECT_FALSE(FileExists(package)) << "the package is gone";
        EXPECT_FALSE(FileExists(game + "/.velgrim-update")) << "no staging area is left";
        SetFileAttributesA((game + "/a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(Apply, AFileHeldOpenIsWaitedForAndNamed)
{
    HANDLE holder = CreateFileA((game + "/data/b.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    PATCH_APPLIER applier(game, unpacker);
    applier.m_uLockedWaitMs = 300;
    EXPECT_FALSE(applier.Apply(package, 7, nullptr));
    CloseHandle(holder);
    EXPECT_NE(applier.Problem().find("data/b.bin is in use"), std::string::npos) << applier.Problem();
    EXPECT_EQ(GameFiles(), kOld);
}

// A crash at each step (here: a throw out of the step, which leaves the files as a killed
// process would), then a start that finishes the update without a download.
TEST_F(Apply, AStartAfterACrashFinishesTheUpdate)
{
    struct CASE {
        const char* step;
        uint32_t index;
    };
    const CASE cases[] = {
        {"journal", APPLY_STAGING}, {"staged", 0},  {"staged", 2},  {"journal", APPLY_SWAPPING},
        {"swapped", 0},             {"swapped", 1}, {"swapped", 2},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + std::to_string(c.index));
        Reset();
        static CASE crashAt;
        crashAt = c;
        g_applyStepHook = [](const char* step, uint32_t index) {
            if (std::string(step) == crashAt.step && index == crashAt.index)
                throw "crash";
        };
        EXPECT_ANY_THROW(PATCH_APPLIER(game, unpacker).Apply(package, 7, nullptr));
        g_applyStepHook = nullptr;
        const TREE after = GameFiles();
        for (const auto& f : kOld)
            EXPECT_TRUE(after.at(f.first) == f.second || kPatch.at(f.first) == after.at(f.first)) << f.first;

        PATCH_APPLIER start(game, unpacker);
        uint32_t version = 0;
        ASSERT_EQ(start.Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_COMPLETED) << start.Problem();
        EXPECT_EQ(version, 7u);
        start.Finish(package);
        EXPECT_EQ(Snapshot(game), Expected(kOld, true));
    }
}

TEST_F(Apply, ACrashWhileStagingWithTheLocalPackageGoneKeepsTheOldFiles)
{
    g_applyStepHook = [](const char* step, uint32_t index) {
        if (std::string(step) == "staged" && index == 1)
            throw "crash";
    };
    EXPECT_THROW(PATCH_APPLIER(game, unpacker).Apply(package, 7, nullptr), RXExs);
    g_applyStepHook = nullptr;
    ASSERT_TRUE(WriteWholeFile(package, "no longer a package"));
    uint32_t version = 0;
    EXPECT_EQ(PATCH_APPLIER(game, unpacker).Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_FAILED);
    EXPECT_EQ(Snapshot(game), kOld) << "old files, no staging area, the bad package gone";
}

#ifndef _WIN32
// A disk that fills up while the patch is staged (here a file-size limit): the old files
// stay, and the staging area is removed again, so the disk is not left full.
TEST_F(Apply, ADiskThatFillsWhileStagingLeavesTheOldFiles)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    PATCH_APPLIER applier(game, unpacker);
    const bool applied = applier.Apply(package, 7, nullptr);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(applied);
    EXPECT_NE(applier.Problem().find("data/b.bin"), std::string::npos) << applier.Problem();
    EXPECT_EQ(Snapshot(game), kOld);
}

// Links already in the game directory are never followed out of it.
TEST_F(Apply, LinksInTheGameDirectoryAreNotFollowed)
{
    struct CASE {
        const char* what;
        const char* link;
        const char* target;
    };
    const CASE cases[] = {
        {"a directory link", "data", "../outside"},
        {"a link over a file", "a.txt", "../outside/a.txt"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        fs::create_directories(dir / "outside");
        ASSERT_TRUE(WriteWholeFile(dir / "outside/a.txt", "outside"));
        fs::remove_all(game + "/" + c.link);
        fs::create_symlink(c.target, game + "/" + c.link);
        PATCH_APPLIER applier(game, unpacker);
        EXPECT_FALSE(applier.Apply(package, 7, nullptr));
        EXPECT_NE(applier.Problem().find("a link on the way"), std::string::npos) << applier.Problem();
        EXPECT_EQ(Snapshot(dir / "outside"), (TREE{{"a.txt", "outside"}})) << "nothing written outside";
    }
}
#endif
