// Staging while the package arrives: a package fed to the stager in slices, as a download
// writes its part; entries staged once their bytes are in, kept on a resume of the same
// package only, and a package that fails a check refused before anything is swapped.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "apply/patch_applier.h"
#include "apply/stream_stager.h"
#include "downloader/resume_record.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "pack/pack_writer.h"
#include "protocol/update_protocol.h"
#include "support/temp_dir.h"
#include "support/zstd_frames.h"

namespace fs = std::filesystem;

namespace {

const uint32_t kTag = 0x5a5a1234;
const std::string kB(3000, 'b');
const std::string kC(70000, 'c');

bool WaitFor(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class Stager : public ::testing::Test {
public:
    void SetUp() override
    {
        game = dir / "game";
        package = game + "/Velgrim_patch.rxpack";
        part = package + ".part";
        fs::create_directories(game);
        ASSERT_TRUE(WriteWholeFile(game + "/a.txt", "old a") && WriteWholeFile(game + "/gone.txt", "old gone"));
        // a.txt plain, b.bin compressed, c.txt plain, gone.txt removed: in table order.
        const std::string frame = zstd_frames::RawFrame(kB);
        ASSERT_TRUE(WriteWholeFile(dir / "a", "new a") && WriteWholeFile(dir / "frame", frame) &&
                    WriteWholeFile(dir / "c", kC));
        PACK_WRITER writer;
        std::string error;
        ASSERT_TRUE(writer.AddFile("a.txt", dir / "a", &error) &&
                    writer.AddEncoded("b.bin", dir / "frame", pack_format::kEntryKindZstd,
                                      static_cast<uint32_t>(kB.size()), Crc32(0, kB.data(), kB.size()), &error) &&
                    writer.AddFile("c.txt", dir / "c", &error) && writer.AddRemoval("gone.txt", &error) &&
                    writer.Write(dir / "package", &error))
            << error;
        ASSERT_TRUE(ReadWholeFile(dir / "package", &bytes));
        stager.reset(new STREAM_STAGER(game));
    }

    // Where entry i's bytes end.
    uint64_t EndOf(size_t i) const
    {
        const unsigned char* e = reinterpret_cast<const unsigned char*>(bytes.data()) + 48 + 32 * i;
        return pack_format::GetU64(e) + pack_format::GetU32(e + 8);
    }
    // The part holds the package's first n bytes, and the stager is told.
    void FeedTo(uint64_t n)
    {
        const uint64_t had = fs::exists(part) ? fs::file_size(part) : 0;
        std::ofstream out(part, std::ios::binary | std::ios::app);
        out.write(bytes.data() + had, static_cast<std::streamsize>(n - had));
        out.close();
        stager->OnPartOnDisk(n);
    }
    void Begin(uint64_t start, uint32_t tag = kTag)
    {
        stager->Prepare(FILE_KIND_PATCH, 7);
        stager->OnPartBegin(FILE_KIND_PATCH, part, bytes.size(), start, tag);
    }
    bool StagedReach(size_t n)
    {
        return WaitFor([&] { return stager->Staged() >= n || stager->Failed(); }) && stager->Staged() == n;
    }
    // The rest arrives, passes its check and takes its name; the stager finishes, and the
    // update is applied from what it staged.
    bool CompleteAndApply()
    {
        FeedTo(bytes.size());
        fs::rename(part, package);
        stager->OnPartComplete(package);
        if (!WaitFor([&] { return !stager->Busy(); }))
            return false;
        stager->Stop();
        return PATCH_APPLIER(game).Apply(package, 7, nullptr);
    }
    std::string Game(const std::string& name)
    {
        std::string b;
        return ReadWholeFile(game + "/" + name, &b) ? b : "(none)";
    }
    std::string Staging(const std::string& name) const { return game + "/" + STAGING_DIR_NAME + "/" + name; }

    TEMP_DIR dir;
    std::string game, package, part, bytes;
    std::unique_ptr<STREAM_STAGER> stager;
};

} // namespace

TEST_F(Stager, EachEntryIsStagedOnceItsBytesAreInAndTheJournalNamesIt)
{
    // rxpack writes the index first, then the contents in table order, back to back.
    EXPECT_EQ(EndOf(0), 48 + 4 * 32 + 27 + 5u);
    EXPECT_EQ(EndOf(2), bytes.size());
    Begin(0);
    const struct {
        uint64_t fedTo;
        size_t staged;
    } steps[] = {
        {40, 0},              // not even the header
        {48 + 4 * 32, 0},     // the table, not the names
        {EndOf(0) - 1, 0},    // the index, a.txt short of its last byte
        {EndOf(0), 1},        // a.txt
        {EndOf(1) - 10, 1},   // b.bin's frame cut
        {EndOf(2), 3},        // b.bin and c.txt
    };
    for (const auto& step : steps) {
        FeedTo(step.fedTo);
        EXPECT_TRUE(StagedReach(step.staged)) << "fed to " << step.fedTo << ": " << stager->Staged();
    }
    char head[128];
    std::snprintf(head, sizeof(head), "velgrim-apply 3\nversion 7\npackage %zu %08x\ntag %08x\n", bytes.size(),
                  static_cast<unsigned>(Crc32(0, bytes.data() + 48, 4 * 32 + 27)), static_cast<unsigned>(kTag));
    const std::string expected =
        std::string(head) + "state receiving\nstaged a.txt\nstaged b.bin\nstaged c.txt\nremove gone.txt\n";
    std::string journal;
    EXPECT_TRUE(WaitFor([&] { return ReadWholeFile(Staging("journal"), &journal) && journal == expected; }))
        << journal;
    EXPECT_EQ(Game("a.txt"), "old a") << "nothing of the game is touched while the package arrives";
    // What was staged is what Apply swaps in: a staged copy is not written again.
    ASSERT_TRUE(WriteWholeFile(Staging("files/c.txt"), "staged c"));
    ASSERT_TRUE(CompleteAndApply());
    EXPECT_EQ(Game("a.txt"), "new a");
    EXPECT_EQ(Game("b.bin"), kB);
    EXPECT_EQ(Game("c.txt"), "staged c");
    EXPECT_EQ(Game("gone.txt"), "(none)");
}

TEST_F(Stager, APackageThatTookItsNameBeforeTheWorkerReadItIsStagedFromThere)
{
    // A small package arrives whole in one step: checked and renamed before the worker
    // looks, so the part's name is gone by then.
    Begin(0);
    ASSERT_TRUE(WriteWholeFile(package, bytes));
    stager->OnPartComplete(package);
    ASSERT_TRUE(WaitFor([&] { return !stager->Busy(); }));
    EXPECT_FALSE(stager->Failed()) << stager->Problem();
    EXPECT_EQ(stager->Staged(), 3u);
    stager->Stop();
    ASSERT_TRUE(PATCH_APPLIER(game).Apply(package, 7, nullptr));
    EXPECT_EQ(Game("c.txt"), kC);
}

TEST_F(Stager, AResumeOfTheSamePackageKeepsWhatWasStagedAnythingElseDropsIt)
{
    const struct {
        const char* what;
        bool record;     // the part's record is there at the next start
        uint64_t start;  // where the next download goes on from
        uint32_t tag;
        bool kept;
    } cases[] = {
        {"the same package goes on", true, 1, kTag, true},
        {"no record: the part is gone", false, 1, kTag, false},
        {"another tag: another package", true, 1, kTag + 1, false},
        {"from the beginning", true, 0, kTag, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(game);
        SetUp();
        Begin(0);
        FeedTo(EndOf(1));
        ASSERT_TRUE(StagedReach(2));
        stager.reset(new STREAM_STAGER(game)); // the run ends here, as a kill leaves it
        ASSERT_TRUE(WriteWholeFile(Staging("files/a.txt"), "staged a"));
        RemoveResumeRecord(package);
        if (c.record) {
            RESUME_RECORD record;
            record.kind = FILE_KIND_PATCH;
            record.size = bytes.size();
            record.tag = kTag;
            ASSERT_TRUE(WriteResumeRecord(package, record));
        }
        uint32_t version = 0;
        EXPECT_EQ(PATCH_APPLIER(game).Recover(package, &version, nullptr), PATCH_APPLIER::RECOVERY_NONE);
        EXPECT_EQ(Game("a.txt"), "old a");
        const uint64_t start = c.start != 0 ? fs::file_size(part) : 0;
        if (start == 0)
            fs::remove(part);
        Begin(start, c.tag);
        FeedTo(EndOf(1));
        EXPECT_TRUE(StagedReach(2));
        ASSERT_TRUE(CompleteAndApply());
        EXPECT_EQ(Game("a.txt"), c.kept ? "staged a" : "new a");
        EXPECT_EQ(Game("c.txt"), kC);
    }
}

TEST_F(Stager, APackageThatFailsACheckIsRefusedAndItsStagedFilesGo)
{
    const struct {
        const char* what;
        size_t at; // the byte spoiled
        bool resumed; // the spoiled byte is in a part kept from an earlier transfer
        const char* problem;
    } cases[] = {
        {"the index", 48 + 32 + 12, false, "not a sound package"},
        {"c.txt's content", 0, false, "not a sound package"},
        {"c.txt's content, in a kept part", 0, true, "not a sound package"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(game);
        SetUp();
        const size_t at = c.at != 0 ? c.at : static_cast<size_t>(EndOf(2) - 5);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
        if (c.resumed)
            FeedTo(bytes.size() - 1);
        Begin(c.resumed ? bytes.size() - 1 : 0);
        FeedTo(bytes.size());
        ASSERT_TRUE(WaitFor([&] { return stager->Failed(); }));
        EXPECT_NE(stager->Problem().find(c.problem), std::string::npos) << stager->Problem();
        // A spoiled kept part is fetched again whole; a package sent whole is refused.
        EXPECT_EQ(stager->Spliced(), c.resumed);
        stager->Stop();
        EXPECT_FALSE(fs::exists(game + "/" + STAGING_DIR_NAME));
        EXPECT_EQ(Game("a.txt"), "old a");
        EXPECT_EQ(Game("gone.txt"), "old gone");
    }
}
