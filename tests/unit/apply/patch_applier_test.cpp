// Applying a patch to a game directory, with faults injected before and during the swap:
// the game files are always whole, either all old or (after a start finishes the swap)
// all new.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "apply/patch_applier.h"
#include "pack/pack_writer.h"
#include "launcher/version_file.h"
#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/held_folders.h"
#include "support/current_dir.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

using TREE = std::map<std::string, std::string>;

const TREE kOld = {{"a.txt", "old a"}, {"data/b.bin", "old b"}, {"keep.txt", "not in the patch"}};
// "..cfg" is an ordinary name, however it starts.
const TREE kPatch = {{"..cfg", "dots"}, {"a.txt", "new a"}, {"data/b.bin", std::string(3000, 'b')},
                     {"data/maps/c.txt", "new c"}};

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

    // Where the package lies once an update took it into its staging area.
    std::string StagedPackage() const { return game + "/.velgrim-update/package"; }
    // A package of files and removals, written at path.
    void MakePackage(const std::string& path, const TREE& files, const std::vector<std::string>& removals = {})
    {
        const std::string content = dir / ("content-" + std::to_string(++made));
        Write(content, files);
        PACK_WRITER writer;
        std::string error;
        if (!files.empty()) {
            ASSERT_TRUE(writer.AddTree(content, "", &error)) << error;
        }
        for (const std::string& name : removals)
            ASSERT_TRUE(writer.AddRemoval(name, &error)) << error;
        ASSERT_TRUE(writer.Write(path, &error)) << error;
    }
    // An update of kPatch to 7 killed at step (index), as a crash leaves it.
    void CrashAt(const char* step, uint32_t index)
    {
        static std::string s_step;
        static uint32_t s_index;
        s_step = step;
        s_index = index;
        g_applyStepHook = [](const char* at, uint32_t i) {
            if (s_step == at && i == s_index)
                throw "crash";
        };
        EXPECT_ANY_THROW(PATCH_APPLIER(game).Apply(package, 7, nullptr));
        g_applyStepHook = nullptr;
    }

    TEMP_DIR dir;
    std::string game;
    std::string package;
    std::string packageBytes;
    int made = 0;
};

} // namespace

TEST_F(Apply, APatchIsPutInWholeAndFinished)
{
    PATCH_APPLIER applier(game);
    ASSERT_TRUE(applier.Apply(package, 7, nullptr)) << applier.Problem();
    EXPECT_EQ(GameFiles().count("a.txt"), 1u);
    applier.Finish(package);
    EXPECT_EQ(Snapshot(game), Expected(kOld, true)) << "no package, staging area or journal left";
    uint32_t version = 0;
    EXPECT_EQ(PATCH_APPLIER(game).Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_NONE);
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
        PATCH_APPLIER applier(game);
        EXPECT_FALSE(applier.Apply(package, 7, nullptr));
        EXPECT_NE(applier.Problem().find(c.problem), std::string::npos) << applier.Problem();
        EXPECT_EQ(GameFiles(), before);
        EXPECT_FALSE(FileExists(package)) << "the package is gone";
        EXPECT_FALSE(FileExists(game + "/.velgrim-update")) << "no staging area is left";
        SetFileAttributesA((game + "/a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A file another program holds is waited for: let go during the wait, the update goes
// in; held for good, it is named.
TEST_F(Apply, AFileHeldOpenIsWaitedForAndNamed)
{
    for (const bool released : {true, false}) {
        SCOPED_TRACE(released ? "released during the wait" : "held for good");
        Reset();
        static HANDLE holder;
        holder = CreateFileA((game + "/data/b.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        if (released)
            g_applyStepHook = [](const char* step, uint32_t) {
                if (std::string(step) == "waiting" && holder != INVALID_HANDLE_VALUE) {
                    CloseHandle(holder);
                    holder = INVALID_HANDLE_VALUE;
                }
            };
        PATCH_APPLIER applier(game);
        applier.m_uLockedWaitMs = released ? 60000 : 300;
        EXPECT_EQ(applier.Apply(package, 7, nullptr), released) << applier.Problem();
        g_applyStepHook = nullptr;
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        if (released) {
            applier.Finish(package);
            EXPECT_EQ(Snapshot(game), Expected(kOld, true));
        } else {
            EXPECT_NE(applier.Problem().find("data/b.bin is in use"), std::string::npos) << applier.Problem();
            EXPECT_EQ(GameFiles(), kOld);
        }
    }
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
        EXPECT_ANY_THROW(PATCH_APPLIER(game).Apply(package, 7, nullptr));
        g_applyStepHook = nullptr;
        const TREE after = GameFiles();
        for (const auto& f : kOld)
            EXPECT_TRUE(after.at(f.first) == f.second || kPatch.at(f.first) == after.at(f.first)) << f.first;

        PATCH_APPLIER start(game);
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
    EXPECT_ANY_THROW(PATCH_APPLIER(game).Apply(package, 7, nullptr));
    g_applyStepHook = nullptr;
    ASSERT_TRUE(WriteWholeFile(StagedPackage(), "no longer a package"));
    uint32_t version = 0;
    EXPECT_EQ(PATCH_APPLIER(game).Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_FAILED);
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
    PATCH_APPLIER applier(game);
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
        PATCH_APPLIER applier(game);
        EXPECT_FALSE(applier.Apply(package, 7, nullptr));
        EXPECT_NE(applier.Problem().find("a link on the way"), std::string::npos) << applier.Problem();
        EXPECT_EQ(Snapshot(dir / "outside"), (TREE{{"a.txt", "outside"}})) << "nothing written outside";
    }
}

// A folder of the game swapped for a link to a folder outside while the files are moved in,
// at any point of the swap: nothing is written outside.
TEST_F(Apply, AFolderSwappedForALinkMidSwapIsNotEntered)
{
    for (const uint32_t at : {0u, 1u, 2u}) {
        SCOPED_TRACE("after file " + std::to_string(at));
        Reset();
        fs::create_directories(dir / "outside/maps");
        static std::string s_game;
        static std::string s_outside;
        static uint32_t s_at;
        s_game = game;
        s_outside = dir / "outside";
        s_at = at;
        g_applyStepHook = [](const char* step, uint32_t index) {
            if (std::string(step) == "swapped" && index == s_at) {
                fs::rename(s_game + "/data", s_game + "/data-moved");
                fs::create_directory_symlink(s_outside, s_game + "/data");
            }
        };
        PATCH_APPLIER applier(game);
        const bool applied = applier.Apply(package, 7, nullptr);
        g_applyStepHook = nullptr;
        EXPECT_TRUE(Snapshot(dir / "outside").empty()) << "nothing written outside; " << applier.Problem();
        if (!applied) {
            EXPECT_NE(applier.Problem().find("a link on the way"), std::string::npos) << applier.Problem();
        }
    }
}

namespace {

// A folder and its own link, a link at a name, and a name with nothing there, moved in and
// out through held folders: a link is never entered, only moved itself.
TEST(HeldFolders, LinksAreNeverEntered)
{
    TEMP_DIR dir;
    fs::create_directories(dir / "game/real");
    fs::create_directories(dir / "outside");
    fs::create_directory_symlink(dir / "outside", dir / "game/linked");
    fs::create_symlink(dir / "outside/victim", dir / "game/real/link.txt");
    ASSERT_TRUE(WriteWholeFile(dir / "outside/victim", "outside"));
    for (const char* name : {"a", "b", "c", "d"})
        ASSERT_TRUE(WriteWholeFile(dir / name, name));
    HELD_FOLDERS game(dir / "game");
    EXPECT_EQ(game.MoveIn(dir / "a", "linked/a.txt"), HELD_FOLDERS::LINK);
    EXPECT_EQ(game.MoveIn(dir / "b", "real/link.txt"), HELD_FOLDERS::LINK);
    EXPECT_EQ(game.MoveIn(dir / "c", "new/deeper/c.txt"), HELD_FOLDERS::DONE);
    EXPECT_TRUE(FileExists(dir / "game/new/deeper/c.txt"));
    bool absent = false;
    EXPECT_EQ(game.MoveOut("real/link.txt", dir / "moved-link", &absent), HELD_FOLDERS::DONE);
    EXPECT_FALSE(absent);
    EXPECT_TRUE(fs::is_symlink(dir / "moved-link"));
    EXPECT_EQ(game.MoveOut("missing/x.txt", dir / "x", &absent), HELD_FOLDERS::DONE);
    EXPECT_TRUE(absent);
    EXPECT_EQ(game.MoveOut("linked/victim", dir / "v", &absent), HELD_FOLDERS::LINK);
    EXPECT_TRUE(game.Flush());
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / "outside/victim", &bytes) && bytes == "outside");
    EXPECT_EQ(Snapshot(dir / "outside"), (TREE{{"victim", "outside"}}));
}

} // namespace
#endif

namespace {

std::string Slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

struct DURABLE_STEP {
    std::string step;
    std::string path;
    bool packageThere;
    bool journalThere;
};
std::vector<DURABLE_STEP> g_durableSteps;

void RecordDurableStep(const char* step, const char* path)
{
    g_durableSteps.push_back({step, Slashes(path), FileExists(".velgrim-update/package"),
                              FileExists(".velgrim-update/journal")});
}

// Where (step, path) first happens at or after `from`; the end when it does not. A flush of
// the whole file system (syncfs) counts as a flush of every file and folder.
size_t Find(const std::string& step, const std::string& path, size_t from = 0, bool wholeCounts = true)
{
    for (size_t i = from; i < g_durableSteps.size(); ++i)
        if ((g_durableSteps[i].step == step && g_durableSteps[i].path == path) ||
            (wholeCounts && (step == "flush" || step == "flushdir") && g_durableSteps[i].step == "syncfs"))
            return i;
    return g_durableSteps.size();
}

} // namespace

// An update reaches the disk in the order a power cut needs: what a name publishes before
// the name, the swap before the version, the version before the package and journal go.
TEST_F(Apply, EachStepIsOnTheDiskBeforeTheNextDependsOnIt)
{
    CURRENT_DIR inGame(game);
    g_durableSteps.clear();
    g_durableStepObserver = RecordDurableStep;
    PATCH_APPLIER applier("");
    const bool applied = applier.Apply("Velgrim_patch.rxpack", 7, nullptr);
    g_localVersion = 7;
    const bool recorded = WriteLocalVersion();
    applier.Finish("Velgrim_patch.rxpack");
    g_durableStepObserver = nullptr;
    ASSERT_TRUE(applied && recorded) << applier.Problem();

    const size_t end = g_durableSteps.size();
    // The journal is written twice (staging, then swapping), each time flushed before its
    // rename and its folder flushed after.
    const size_t staging = Find("rename", ".velgrim-update/journal");
    const size_t swapping = Find("rename", ".velgrim-update/journal", staging + 1);
    ASSERT_LT(swapping, end);
    for (size_t rename : {staging, swapping}) {
        size_t flush = end;
        for (size_t i = 0; i < rename; ++i)
            if (g_durableSteps[i].step == "flush" && g_durableSteps[i].path == ".velgrim-update/journal.part")
                flush = i;
        EXPECT_LT(flush, rename);
        EXPECT_LT(Find("flushdir", ".velgrim-update", rename), end);
    }
    const size_t versionFlush = Find("flush", "version.txt.new", 0, false);
    const size_t versionRename = Find("rename", "version.txt");
    ASSERT_LT(versionRename, end);
    EXPECT_LT(versionFlush, versionRename);
    for (const auto& f : kPatch) {
        SCOPED_TRACE(f.first);
        // Staged and flushed before the journal says the files may move.
        EXPECT_LT(Find("flush", ".velgrim-update/files/" + f.first), swapping);
        // Moved, and its folder flushed, before the version is written.
        const size_t moved = Find("rename", f.first);
        EXPECT_LT(swapping, moved);
        const std::string folder = f.first.find('/') == std::string::npos ? "" : f.first.substr(0, f.first.rfind('/'));
        EXPECT_LT(Find("flushdir", folder, moved), versionFlush);
    }
    // version.txt (and its folder) are on the disk while the package and journal still are.
    const size_t versionDone = Find("flushdir", "", versionRename);
    ASSERT_LT(versionDone, end);
    EXPECT_TRUE(g_durableSteps[versionDone].packageThere && g_durableSteps[versionDone].journalThere);
}

// Recovery of a swap a crash cut short, whatever the crash left of the staged files.
TEST_F(Apply, RecoveryChecksWhatItMoves)
{
    struct CASE {
        const char* what;
        const char* crashAt; // the step the crash came after
        std::function<void(Apply&)> damage;
        PATCH_APPLIER::RECOVERY first; // the first recovery, then one with the package back
    };
    const std::string staged = "/.velgrim-update/files/";
    const CASE cases[] = {
        {"a staged file cut short", "journal",
         [&](Apply& t) { ASSERT_TRUE(WriteWholeFile(t.game + staged + "data/b.bin", "bb")); },
         PATCH_APPLIER::RECOVERY_COMPLETED},
        {"a staged file emptied", "journal",
         [&](Apply& t) { ASSERT_TRUE(WriteWholeFile(t.game + staged + "a.txt", "")); },
         PATCH_APPLIER::RECOVERY_COMPLETED},
        {"a staged file missing, the target old", "journal",
         [&](Apply& t) { ASSERT_TRUE(DeleteFileA((t.game + staged + "a.txt").c_str())); },
         PATCH_APPLIER::RECOVERY_COMPLETED},
        {"a staged file missing, the target new", "swapped", [](Apply&) {}, PATCH_APPLIER::RECOVERY_COMPLETED},
        {"a staged file damaged and no package", "journal",
         [&](Apply& t) {
             ASSERT_TRUE(WriteWholeFile(t.game + staged + "a.txt", "new A"));
             ASSERT_TRUE(DeleteFileA(t.StagedPackage().c_str()));
         },
         PATCH_APPLIER::RECOVERY_FAILED},
        {"a moved file and no package", "swapped",
         [&](Apply& t) { ASSERT_TRUE(DeleteFileA(t.StagedPackage().c_str())); }, PATCH_APPLIER::RECOVERY_FAILED},
        {"a staged file damaged and the package too", "journal",
         [&](Apply& t) {
             std::string damaged = t.packageBytes;
             const size_t content = damaged.rfind("new a");
             ASSERT_NE(content, std::string::npos);
             damaged[content] ^= 0x20; // its checksum no longer matches
             ASSERT_TRUE(WriteWholeFile(t.StagedPackage(), damaged));
             ASSERT_TRUE(WriteWholeFile(t.game + staged + "a.txt", "new A"));
         },
         PATCH_APPLIER::RECOVERY_FAILED},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        static std::string crashAt;
        crashAt = c.crashAt;
        g_applyStepHook = [](const char* step, uint32_t index) {
            if (crashAt == step && index == (crashAt == "journal" ? uint32_t(APPLY_SWAPPING) : 0u))
                throw "crash";
        };
        EXPECT_ANY_THROW(PATCH_APPLIER(game).Apply(package, 7, nullptr));
        g_applyStepHook = nullptr;
        c.damage(*this);
        std::string journal;
        ASSERT_TRUE(ReadWholeFile(game + "/.velgrim-update/journal", &journal));

        uint32_t version = 0;
        PATCH_APPLIER first(game);
        ASSERT_EQ(first.Recover(package, &version, nullptr), c.first) << first.Problem();
        if (c.first == PATCH_APPLIER::RECOVERY_FAILED) {
            // Kept whole for the next start: the journal as it was, no old file half-new.
            std::string kept;
            ASSERT_TRUE(ReadWholeFile(game + "/.velgrim-update/journal", &kept));
            EXPECT_EQ(kept, journal);
            for (const auto& f : kOld)
                EXPECT_TRUE(GameFiles().at(f.first) == f.second || kPatch.count(f.first)) << f.first;
            // The package comes again (a download); the second recovery finishes the update.
            ASSERT_TRUE(WriteWholeFile(package, packageBytes));
            PATCH_APPLIER second(game);
            ASSERT_EQ(second.Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_COMPLETED)
                << second.Problem();
        }
        EXPECT_EQ(version, 7u);
        PATCH_APPLIER(game).Finish(package);
        EXPECT_EQ(Snapshot(game), Expected(kOld, true));
    }
}


// A leftover swapping journal never blocks a later update, nor costs it its package: one
// whose version is recorded was finished; one cut short is finished with its own package;
// one that cannot be is set aside by a newer update that writes every file it named.
TEST_F(Apply, ALeftoverJournalNeverBlocksALaterUpdate)
{
    const TREE kEight = {{"..cfg", "dots 8"}, {"a.txt", "a 8"}, {"data/b.bin", "b 8"}, {"data/maps/c.txt", "c 8"}};
    struct CASE {
        const char* what;
        std::function<void(Apply&)> leave;
        TREE next; // version 8's package
        bool applied;
        TREE after; // the game files after the apply (and Finish, when it applied)
    };
    TREE partOfEight = Expected(kOld, true);
    partOfEight["a.txt"] = "a 8";
    TREE allOfEight = kOld;
    for (const auto& f : kEight)
        allOfEight[f.first] = f.second;
    const CASE cases[] = {
        {"a journal that stayed after the version was recorded",
         [](Apply& t) {
             ASSERT_TRUE(PATCH_APPLIER(t.game).Apply(t.package, 7, nullptr));
             ASSERT_TRUE(WriteWholeFile(t.game + "/version.txt", "7"));
         },
         {{"a.txt", "a 8"}}, true, partOfEight},
        {"a swap cut short", [](Apply& t) { t.CrashAt("swapped", 0); }, {{"a.txt", "a 8"}}, true, partOfEight},
        {"a swap cut short, its package lost, the next writes all it named",
         [](Apply& t) {
             t.CrashAt("swapped", 1);
             ASSERT_TRUE(DeleteFileA(t.StagedPackage().c_str()));
         },
         kEight, true, allOfEight},
        {"a swap cut short, its package lost, the next writes part of it",
         [](Apply& t) {
             t.CrashAt("swapped", 1);
             ASSERT_TRUE(DeleteFileA(t.StagedPackage().c_str()));
         },
         {{"a.txt", "a 8"}}, false, {}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.leave(*this);
        const TREE before = GameFiles();
        MakePackage(package, c.next);
        PATCH_APPLIER applier(game);
        ASSERT_EQ(applier.Apply(package, 8, nullptr), c.applied) << applier.Problem();
        if (!c.applied) {
            EXPECT_TRUE(FileExists(package)) << "the new package is kept";
            EXPECT_TRUE(FileExists(game + "/.velgrim-update/journal")) << "the leftover is kept";
            EXPECT_EQ(GameFiles(), before);
            continue;
        }
        applier.Finish(package);
        TREE after = Snapshot(game);
        after.erase("version.txt");
        EXPECT_EQ(after, c.after);
    }
}

// Recovery uses its journal's package only, and a journal it cannot read leaves everything
// as it is for this run.
TEST_F(Apply, RecoveryTakesOnlyWhatItsJournalNames)
{
    // Another update's package, with the same names, at the package's place.
    const TREE kOther = {{"..cfg", "x"}, {"a.txt", "x"}, {"data/b.bin", "x"}, {"data/maps/c.txt", "x"}};
    struct CASE {
        const char* what;
        bool stagedPackageLost;
        bool journalHeld;
        PATCH_APPLIER::RECOVERY result;
    };
    const CASE cases[] = {
        {"another package in its place", false, false, PATCH_APPLIER::RECOVERY_COMPLETED},
        {"another package in its place, its own lost", true, false, PATCH_APPLIER::RECOVERY_FAILED},
        {"the journal held by another program", false, true, PATCH_APPLIER::RECOVERY_SKIP},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        CrashAt("swapped", 1);
        MakePackage(package, kOther);
        if (c.stagedPackageLost) {
            ASSERT_TRUE(DeleteFileA(StagedPackage().c_str()));
        }
        FILE_HANDLE holder(c.journalHeld ? CreateFileA((game + "/.velgrim-update/journal").c_str(), GENERIC_READ, 0,
                                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                         : INVALID_HANDLE_VALUE);
        ASSERT_EQ(holder.Valid(), c.journalHeld);
        // Taken while held: on Windows the snapshot cannot read the held journal either.
        const TREE before = Snapshot(game);
        uint32_t version = 0;
        PATCH_APPLIER start(game);
        ASSERT_EQ(start.Recover(package, &version, nullptr), c.result) << start.Problem();
        for (const auto& f : GameFiles())
            EXPECT_NE(f.second, "x") << f.first << " was written from another update's package";
        if (c.result == PATCH_APPLIER::RECOVERY_COMPLETED) {
            EXPECT_EQ(version, 7u);
            start.Finish(package);
            EXPECT_EQ(Snapshot(game), Expected(kOld, true));
        } else if (c.result == PATCH_APPLIER::RECOVERY_SKIP) {
            EXPECT_EQ(Snapshot(game), before) << "nothing is touched";
            EXPECT_FALSE(PATCH_APPLIER(game).Apply(package, 8, nullptr));
            EXPECT_EQ(Snapshot(game), before) << "nothing is touched, the package kept";
        } else {
            EXPECT_TRUE(FileExists(game + "/.velgrim-update/journal"));
        }
    }
}

// A removal is a journal step: the file moves into the staging area in the swap and goes
// with it once the version is recorded; a crash at any step, and again in the recovery,
// finishes it. A removal of a file that is not there is no error; files the release never
// named stay.
TEST_F(Apply, RemovalsAreFinishedAfterACrashAtAnyStep)
{
    const TREE kNew = {{"a.txt", "a 8"}};
    // Entries in name order: a.txt, data/b.bin (removed), gone.txt (removed, absent).
    const std::vector<std::string> kRemoved = {"data/b.bin", "gone.txt"};
    TREE expected = kOld;
    expected["a.txt"] = "a 8";
    expected.erase("data/b.bin");
    expected["mods/own.cfg"] = "the player's";
    struct CASE {
        const char* step; // "" for no crash
        uint32_t index;
        const char* againAt; // a second crash, in the recovery
    };
    const CASE cases[] = {
        {"", 0, ""},         {"journal", APPLY_SWAPPING, ""}, {"swapped", 0, ""}, {"swapped", 1, ""},
        {"swapped", 2, ""},  {"swapped", 0, "swapped"},        {"journal", APPLY_STAGING, "staged"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + std::to_string(c.index) + " " + c.againAt);
        Reset();
        Write(game, {{"mods/own.cfg", "the player's"}});
        MakePackage(package, kNew, kRemoved);
        static std::string s_step;
        static uint32_t s_index;
        s_step = c.step;
        s_index = c.index;
        g_applyStepHook = [](const char* at, uint32_t i) {
            if (s_step == at && i == s_index)
                throw "crash";
        };
        PATCH_APPLIER applier(game);
        bool crashed = false;
        try {
            ASSERT_TRUE(applier.Apply(package, 8, nullptr)) << applier.Problem();
        } catch (const char*) {
            crashed = true;
        }
        if (crashed) {
            const TREE after = GameFiles();
            EXPECT_EQ(after.count("mods/own.cfg"), 1u);
            if (after.count("data/b.bin") == 0) {
                EXPECT_EQ(after.at(".velgrim-update/removed/data/b.bin"), "old b") << "moved, not yet deleted";
            }
            if (*c.againAt != '\0') {
                s_step = c.againAt;
                s_index = 0;
                uint32_t version = 0;
                EXPECT_ANY_THROW(PATCH_APPLIER(game).Recover(package, &version, nullptr));
            }
            g_applyStepHook = nullptr;
            uint32_t version = 0;
            PATCH_APPLIER start(game);
            ASSERT_EQ(start.Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_COMPLETED) << start.Problem();
            EXPECT_EQ(version, 8u);
            start.Finish(package);
        } else {
            g_applyStepHook = nullptr;
            applier.Finish(package);
        }
        EXPECT_EQ(Snapshot(game), expected);
    }
}
