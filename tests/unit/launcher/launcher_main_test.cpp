#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/game_version_offer.h"
#include "launcher/launcher_main.h"
#include "launcher/run_outcome.h"
#include "launcher/update_session.h"
#include "launcher/updater_version.h"
#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/links.h"
#include "support/temp_dir.h"
#include "release/release_key.h"
#include "support/trace_capture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

// The window is not part of these tests (the Windows test binary links the real one).
#ifndef _WIN32
void RunUpdateDialog() {}
void ShowReleaseRefused(const char*) {}
namespace {
std::vector<std::string> g_closingLines;
}
void ShowRunOutcome(const char* line)
{
    g_closingLines.push_back(line);
}
#endif

// Each launcher program builds its own version and release key in; the tests' launcher is
// version 0 without a key.
uint32_t OwnUpdaterVersion()
{
    return 0;
}
bool HasReleaseKey()
{
    return false;
}
const uint8_t* ReleasePublicKey()
{
    return nullptr;
}
const char* ReleaseManifestPath()
{
    return "/velgrim_release.txt";
}
const char* ReleaseManifest2Path()
{
    return "/velgrim_release2.txt";
}
const char* ReleaseManifest3Path()
{
    return "/velgrim_release3.txt";
}

namespace {

// Records the hand-over steps instead of doing them.
struct RECORDED_OPS {
    static std::vector<std::string> steps;
    static int startResult;
    static std::string failingProgram;

    static int StartSockets()
    {
        steps.push_back("startup");
        return startResult;
    }
    static void StopSockets() { steps.push_back("cleanup"); }
    // A start that works never returns; the fake returns 0 for it, -1 for a failed one.
    static int Start(const char* program)
    {
        steps.push_back(std::string("start ") + program);
        return std::string(program) == failingProgram ? -1 : 0;
    }
    static bool Shell(const char* program, const char* parameters)
    {
        steps.push_back(std::string("shell ") + program + " " + parameters);
        return true;
    }
    static void Sleep(unsigned int ms) { steps.push_back("sleep " + std::to_string(ms)); }
};
std::vector<std::string> RECORDED_OPS::steps;
int RECORDED_OPS::startResult = 0;
std::string RECORDED_OPS::failingProgram;

// LauncherMain works in the directory of the running program: the test binary's.
class LauncherMainTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_saved = g_launcherOps;
        g_launcherOps = {RECORDED_OPS::StartSockets, RECORDED_OPS::StopSockets, RECORDED_OPS::Start,
                         RECORDED_OPS::Shell, RECORDED_OPS::Sleep};
        RECORDED_OPS::steps.clear();
        RECORDED_OPS::startResult = 0;
        RECORDED_OPS::failingProgram.clear();
        char path[1024];
        GetModuleFileNameA(nullptr, path, sizeof(path));
        PathRemoveFileSpecA(path);
        m_dir = path;
        char cwd[1024];
        GetCurrentDirectoryA(sizeof(cwd), cwd);
        m_cwd = cwd;
        Remove();
    }
    void TearDown() override
    {
        Remove();
        SetCurrentDirectoryA(m_cwd.c_str());
        g_launcherOps = m_saved;
    }
    std::string In(const char* name) const { return m_dir + "/" + name; }
    void Remove() const
    {
        DeleteFileA(In("UpdaterNew.exe").c_str());
        DeleteFileA(In("Updater.exe").c_str());
        DeleteFileA(In("Updater.exe.new").c_str());
        DeleteFileA(In("velgrim_update.lock").c_str());
        RemoveDirectoryA(In("velgrim_update.lock").c_str());
    }

    LAUNCHER_OPS m_saved{};
    std::string m_dir;
    std::string m_cwd;
};

int Count(const std::vector<std::string>& steps, const std::string& step)
{
    int n = 0;
    for (const auto& s : steps)
        n += s == step;
    return n;
}

} // namespace

TEST_F(LauncherMainTest, FailedSocketStartLogsAndStartsNothing)
{
    TRACE_CAPTURE capture;
    RECORDED_OPS::startResult = 10091;
    // The game is not started: the run fails.
    EXPECT_EQ(LauncherMain(nullptr, ""), 1);
    EXPECT_EQ(RECORDED_OPS::steps, std::vector<std::string>{"startup"});
    EXPECT_EQ(capture.ErrorTexts(), std::vector<std::string>{"WSAStartup() error"});
}

TEST_F(LauncherMainTest, NewInAnyCaseCopiesTheNewUpdaterAndStartsIt)
{
    for (const char* mode : {"new", "NEW", "NeW"}) {
        RECORDED_OPS::steps.clear();
        FILE* f = std::fopen(In("UpdaterNew.exe").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("new updater", f);
        std::fclose(f);
        EXPECT_EQ(LauncherMain(nullptr, mode), 0);
        const std::vector<std::string> expected = {"startup", "cleanup", "start Updater.exe"};
        EXPECT_EQ(RECORDED_OPS::steps, expected) << mode;
        EXPECT_NE(GetFileAttributesA(In("Updater.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        Remove();
    }
    // A new updater that does not start leaves the player the game.
    FILE* f = std::fopen(In("UpdaterNew.exe").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    RECORDED_OPS::steps.clear();
    RECORDED_OPS::failingProgram = "Updater.exe";
    EXPECT_EQ(LauncherMain(nullptr, "new"), 0);
    const std::vector<std::string> expected = {"startup", "cleanup", "start Updater.exe", "start Velgrim.exe"};
    EXPECT_EQ(RECORDED_OPS::steps, expected);
}

// The new updater is on the disk before it takes the launcher's name, and that name
// before the new updater starts.
TEST_F(LauncherMainTest, TheHandOverFlushesTheCopyBeforeItsRename)
{
    FILE* f = std::fopen(In("UpdaterNew.exe").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("new updater", f);
    std::fclose(f);
    g_durableStepObserver = [](const char* step, const char* path) {
        RECORDED_OPS::steps.push_back(std::string(step) + " " + path);
    };
    EXPECT_EQ(LauncherMain(nullptr, "new"), 0);
    g_durableStepObserver = nullptr;
    const std::vector<std::string> steps = {"startup", "flush Updater.exe.new", "rename Updater.exe", "flushdir ",
                                            "cleanup", "start Updater.exe"};
    EXPECT_EQ(RECORDED_OPS::steps, steps);
}

// A lock that cannot be had (here a folder under its name) is not another launcher: no
// wait, no update, the game at once.
TEST_F(LauncherMainTest, ALockThatCannotBeHadStartsTheGameAtOnce)
{
    ASSERT_TRUE(CreateDirectoryA(In("velgrim_update.lock").c_str(), nullptr));
    for (const char* mode : {"", "new"}) {
        RECORDED_OPS::steps.clear();
        TRACE_CAPTURE capture;
        EXPECT_EQ(LauncherMain(nullptr, mode), 0);
        const std::vector<std::string> steps = {"startup", "cleanup", "start Velgrim.exe"};
        EXPECT_EQ(RECORDED_OPS::steps, steps) << "mode \"" << mode << "\"";
        ASSERT_EQ(capture.ErrorTexts().size(), 1u);
        EXPECT_NE(capture.ErrorTexts()[0].find("velgrim_update.lock cannot be had"), std::string::npos);
    }
}

// A launcher that waited for the lock and then had it is a normal start that ends with the
// game; one that stays held for the whole wait leaves the game to the launcher holding it.
TEST_F(LauncherMainTest, ALauncherThatWaitedForTheLockGoesOn)
{
    static HANDLE s_holder;
    for (const bool letGo : {true, false}) {
        SCOPED_TRACE(letGo ? "let go during the wait" : "held for good");
        RECORDED_OPS::steps.clear();
        s_holder = CreateFileA(In("velgrim_update.lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(s_holder, INVALID_HANDLE_VALUE);
        const auto saved = g_launcherOps.sleepMs;
        if (letGo)
            g_launcherOps.sleepMs = [](unsigned int) {
                RECORDED_OPS::steps.push_back("let go");
                if (s_holder != INVALID_HANDLE_VALUE)
                    CloseHandle(s_holder);
                s_holder = INVALID_HANDLE_VALUE;
            };
        EXPECT_EQ(LauncherMain(nullptr, ""), 0);
        g_launcherOps.sleepMs = saved;
        if (s_holder != INVALID_HANDLE_VALUE)
            CloseHandle(s_holder);
        const auto& steps = RECORDED_OPS::steps;
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(Count(steps, "start Velgrim.exe"), letGo ? 1 : 0);
        EXPECT_EQ(steps.back(), letGo ? "start Velgrim.exe" : "cleanup");
        DeleteFileA(In("version.txt").c_str());
    }
}

// A journal another program holds (a sync client, an antivirus): nothing is touched, no
// update is tried, the game starts.
TEST_F(LauncherMainTest, AJournalThatCannotBeReadSkipsTheUpdate)
{
    DeleteFileA(In("version.txt").c_str());
    ASSERT_TRUE(CreateDirectoryA(In(".velgrim-update").c_str(), nullptr));
    const std::string journal = In(".velgrim-update/journal");
    ASSERT_TRUE(WriteWholeFile(journal, "velgrim-apply 2\nversion 9\npackage 1 00000000\nstate swapping\n"));
    FILE_HANDLE holder(
        CreateFileA(journal.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    EXPECT_EQ(LauncherMain(nullptr, ""), 0);
    holder.Close();
    const std::vector<std::string> steps = {"startup", "cleanup", "start Velgrim.exe"};
    EXPECT_EQ(RECORDED_OPS::steps, steps);
    EXPECT_TRUE(FileExists(journal)) << "the journal is kept";
    EXPECT_FALSE(FileExists(In("version.txt"))) << "nothing is recorded";
    RemoveTree(In(".velgrim-update").c_str());
}

#ifndef _WIN32
// A FIFO or a hard link planted at the launcher's own names: nothing hangs, nothing outside
// is written, the game starts.
TEST_F(LauncherMainTest, NonFilesAtOwnNamesNeitherHangNorWriteThrough)
{
    const char* const names[] = {".velgrim-update/journal", "version.txt.new", "velgrim_update.lock"};
    const std::string outside = In("outside.txt");
    for (const bool fifo : {true, false}) {
        for (const char* name : names) {
            SCOPED_TRACE(std::string(fifo ? "a FIFO at " : "a hard link at ") + name);
            RECORDED_OPS::steps.clear();
            CreateDirectoryA(In(".velgrim-update").c_str(), nullptr);
            DeleteFileA(In("velgrim_update.lock").c_str());
            ASSERT_TRUE(WriteWholeFile(outside, "outside"));
            ASSERT_EQ(fifo ? mkfifo(In(name).c_str(), 0600) : link(outside.c_str(), In(name).c_str()), 0);
            EXPECT_EQ(LauncherMain(nullptr, ""), 0);
            ASSERT_FALSE(RECORDED_OPS::steps.empty());
            EXPECT_EQ(RECORDED_OPS::steps.back(), "start Velgrim.exe");
            std::string bytes;
            EXPECT_TRUE(ReadWholeFile(outside, &bytes) && bytes == "outside") << bytes;
            struct stat st {};
            EXPECT_TRUE(lstat(In(name).c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_nlink == 1));
            unlink(In(name).c_str());
            unlink(outside.c_str());
            RemoveTree(In(".velgrim-update").c_str());
            DeleteFileA(In("version.txt").c_str());
        }
    }
}
#endif

TEST_F(LauncherMainTest, CopyThatNeverSucceedsStartsTheGameAfterTenSeconds)
{
    // No UpdaterNew.exe: every copy fails.
    EXPECT_EQ(LauncherMain(nullptr, "new"), 0);
    const auto& steps = RECORDED_OPS::steps;
    EXPECT_EQ(Count(steps, "sleep 100"), 100);
    EXPECT_EQ(Count(steps, "cleanup"), 1);
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[steps.size() - 2], "cleanup");
    EXPECT_EQ(steps.back(), "start Velgrim.exe");
}

// Only "new" itself hands over: with a trailing blank it is an ordinary start, which
// neither copies UpdaterNew.exe over the launcher nor deletes it.
TEST_F(LauncherMainTest, NewWithATrailingBlankIsAnOrdinaryStart)
{
    FILE* f = std::fopen(In("UpdaterNew.exe").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("new updater", f);
    std::fclose(f);
    EXPECT_EQ(LauncherMain(nullptr, "new "), 0);
    EXPECT_NE(GetFileAttributesA(In("UpdaterNew.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(In("Updater.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_FALSE(RECORDED_OPS::steps.empty());
    EXPECT_EQ(RECORDED_OPS::steps.back(), "start Velgrim.exe");
    EXPECT_EQ(Count(RECORDED_OPS::steps, "start Updater.exe"), 0);
    DeleteFileA(In("version.txt").c_str());
}

// The exit status says whether the game was started; the last closing line says why.
TEST_F(LauncherMainTest, TheRunEndsWithItsOutcomeAndTheGamesStart)
{
    struct CASE {
        const char* what;
        const char* mode;
        const char* failing; // the program whose start fails
        bool lockFolder;     // a folder where the lock file belongs
        int status;
        const char* lastLine; // the start of the last closing line (Linux)
    };
    const CASE cases[] = {
        {"the new updater is copied and started", "new", "", false, 0, "the new updater is in place; starting Updater.exe"},
        {"the new updater cannot start", "new", "Updater.exe", false, 0,
         "the update failed: Updater.exe cannot be started: "},
        {"no lock, the game starts", "", "", true, 0, "no update: velgrim_update.lock cannot be had"},
        {"no lock, the game cannot start", "", "Velgrim.exe", true, 1, "no update: velgrim_update.lock cannot be had"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        Remove();
        if (std::string(c.mode) == "new") {
            FILE* f = std::fopen(In("UpdaterNew.exe").c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
        }
        if (c.lockFolder) {
            ASSERT_TRUE(CreateDirectoryA(In("velgrim_update.lock").c_str(), nullptr));
        }
        RECORDED_OPS::failingProgram = c.failing;
        TRACE_CAPTURE capture;
#ifndef _WIN32
        g_closingLines.clear();
#endif
        EXPECT_EQ(LauncherMain(nullptr, c.mode), c.status);
#ifndef _WIN32
        ASSERT_FALSE(g_closingLines.empty());
        const std::string& last = g_closingLines.back();
        EXPECT_EQ(last.rfind(c.lastLine, 0), 0u) << last;
        if (c.status != 0) {
            EXPECT_NE(last.find("; the game could not be started: Velgrim.exe: "), std::string::npos) << last;
        } else {
            EXPECT_EQ(last.find("could not be started"), std::string::npos) << last;
        }
#endif
    }
}

TEST(UpdaterVersion, AnOfferIsFrom1024AndNewerThanTheLauncher)
{
    struct CASE {
        uint32_t offered;
        uint32_t own;
        bool taken;
    };
    const CASE cases[] = {
        {0, 0, false},      {1023, 0, false},   {1024, 0, true},          {0xFFFFFFFFu, 0, true},
        {2000, 2000, false}, {2001, 2000, true}, {1999, 2000, false},     {1024, 1023, true},
        {0xFFFFFFFFu, 0xFFFFFFFFu, false},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(IsUpdaterOffer(c.offered, c.own), c.taken) << c.offered << " to a launcher of " << c.own;
}

TEST(GameVersionOffer, ASignedLauncherNeverGoesBack)
{
    struct CASE {
        uint32_t offered;
        uint32_t installed;
        bool signedOnly;
        bool update;
    };
    const CASE cases[] = {
        {7, 7, false, false}, {8, 7, false, true},  {6, 7, false, true},           {0, 7, false, true},
        {7, 7, true, false},  {8, 7, true, true},   {6, 7, true, false},           {0, 7, true, false},
        {7, 5, true, true},   {7, 0, true, true},   {0xFFFFFFFFu, 7, true, true}, {7, 0xFFFFFFFFu, true, false},
    };
    for (const CASE& c : cases) {
        TRACE_CAPTURE trace;
        EXPECT_EQ(IsGameUpdate(c.offered, c.installed, c.signedOnly), c.update)
            << c.offered << " over " << c.installed << (c.signedOnly ? ", signed" : "");
        // Only a refused rollback is traced; it is no failure.
        const bool refused = c.signedOnly && c.offered < c.installed;
        EXPECT_EQ(trace.LogLines().size(), refused ? 1u : 0u);
        EXPECT_TRUE(trace.ErrorTexts().empty());
    }
    TRACE_CAPTURE trace;
    IsGameUpdate(6, 7, true);
    const std::string line = "launcher: the signed release is game version 6, below the installed 7: no update\n";
    EXPECT_EQ(trace.LogLines(), std::vector<std::string>{line});
}
