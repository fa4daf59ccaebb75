// The downloader against a scripted server that the test drives byte by byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/set_formatted.h"
#include "downloader/downloader.h"
#include "platform/clock.h"
#include "support/current_dir.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const std::string kPatchName = "Velgrim_patch.rxpack";
const std::string kPatchNameZ = std::string("Velgrim_patch.rxpack") + '\0';
const std::string kAck = "05 01 00 00 00 00 00 00";

std::vector<std::string> FileNames(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    return names;
}

// A downloader connected to a scripted peer, with a file requested into dir/target.
class ScriptedTransfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        target = dir / "target";
        ASSERT_TRUE(peer.Connect(downloader));
    }

    // GetFile and the 20 request bytes on the wire: to a server that announced nothing,
    // exactly the plain request, kind, 0, 0.
    void Request(int kind = FILE_KIND_PATCH)
    {
        ASSERT_TRUE(downloader.GetFile(kind, target.c_str()));
        std::string request;
        ASSERT_TRUE(peer.Expect(downloader, 20, &request));
        const std::string kindBytes = kind == FILE_KIND_PATCH ? "EA 03 00 00" : "EB 03 00 00";
        EXPECT_EQ(Hex(request), "00 01 00 00 0C 00 00 00 " + kindBytes + " 00 00 00 00 00 00 00 00");
    }

    // Sends bytes and pumps until the downloader has taken them all (or closed).
    void Deliver(const std::string& bytes)
    {
        ASSERT_TRUE(peer.Send(bytes));
    }

    TEMP_DIR dir;
    std::string target;
    DOWNLOADER downloader;
    DOWNLOADER_PEER peer;
};

} // namespace

TEST_F(ScriptedTransfer, RequestChunksAcknowledgementsProgressAndFile)
{
    Request();
    EXPECT_TRUE(downloader.in_progress);
    EXPECT_EQ(downloader.GetReceivedSize(), 0u);
    EXPECT_EQ(downloader.GetTotalSize(), 0u);
    EXPECT_FALSE(downloader.IsCompleteOrError());

    Deliver(BeginFrame(kPatchNameZ, 35));
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetTotalSize() == 35; }));
    EXPECT_STREQ(downloader.file_name.Get(), kPatchName.c_str());
    EXPECT_EQ(std::string(downloader.file_path.Get()), target + "/" + kPatchName);
    EXPECT_TRUE(FileExists(target)) << "the target directory is created at the announcement";

    const std::string content = "0123456789abcdefghijklmnopqrstUVWXY";
    const size_t sizes[] = {10, 20, 5};
    const uint32_t progress[] = {10, 30, 35};
    size_t offset = 0;
    for (int i = 0; i < 3; ++i) {
        Deliver(DataFrame(content.substr(offset, sizes[i])));
        offset += sizes[i];
        std::string ack;
        ASSERT_TRUE(peer.Expect(downloader, 8, &ack)) << "chunk " << i;
        EXPECT_EQ(Hex(ack), kAck);
        EXPECT_EQ(downloader.GetReceivedSize(), progress[i]);
        EXPECT_FALSE(downloader.IsCompleteOrError());
    }

    Deliver(EndFrame());
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.complete; }));
    EXPECT_TRUE(peer.WaitClosed(downloader)) << "the downloader closes after the end";
    EXPECT_TRUE(downloader.IsCompleteOrError());
    EXPECT_FALSE(downloader.IsError());
    EXPECT_FALSE(downloader.in_progress);
    EXPECT_EQ(downloader.GetReceivedSize(), 0u);
    std::string written;
    ASSERT_TRUE(ReadWholeFile(target + "/" + kPatchName, &written));
    EXPECT_EQ(written, content);
    EXPECT_FALSE(FileExists(target + "/" + kPatchName + ".part"));

    // Close keeps `complete`; Disconnect clears it.
    EXPECT_TRUE(downloader.Close());
    EXPECT_TRUE(downloader.complete);
    downloader.Disconnect();
    EXPECT_FALSE(downloader.complete);
}

// At the window's pace a step takes every frame that has arrived, and the acknowledgement
// of a chunk leaves in the step that took the chunk, not a tick later.
TEST_F(ScriptedTransfer, OneStepTakesWhatHasArrivedAndAcknowledgesIt)
{
    Request();
    const std::string frames = BeginFrame(kPatchNameZ, 5) + DataFrame("abcde");
    Deliver(frames);
    unsigned long waiting = 0;
    const uint64_t deadline = MonotonicMs() + 2000;
    while (waiting < frames.size() && MonotonicMs() < deadline)
        ioctlsocket(downloader.client.m_Socket, FIONREAD, &waiting);
    // The greeting may still wait too: under Wine a socket can show its bytes a moment
    // after they were sent, after the request's steps had ended.
    ASSERT_GE(waiting, frames.size());
    downloader.m_uReceiveBudgetMs = 10000;
    downloader.Process();
    EXPECT_EQ(downloader.GetTotalSize(), 5u);
    EXPECT_EQ(downloader.GetReceivedSize(), 5u);
    std::string ack;
    ASSERT_TRUE(RecvExactly(peer.Socket(), 8, &ack, 2000)) << "no acknowledgement without a further step";
    EXPECT_EQ(Hex(ack), kAck);
}

// A large chunk goes to the disk in pieces as it arrives and is acknowledged once, after
// its last byte; bytes after its count are not the file's.
TEST_F(ScriptedTransfer, ALargeChunkIsWrittenAsItArrivesAndAcknowledgedOnce)
{
    Request();
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + i / 977);
    Deliver(BeginFrame(kPatchNameZ, static_cast<uint32_t>(content.size())));
    const std::string chunk = Frame(MSG_FILE_DATA, Counted(content) + "trailing");
    Deliver(chunk.substr(0, 200000));
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() >= 100000; }))
        << "the first bytes are taken before the chunk is whole";
    EXPECT_LT(downloader.GetReceivedSize(), content.size());
    EXPECT_EQ(SocketWaitReadable(peer.Socket(), 0), 0) << "no acknowledgement before the chunk's end";
    Deliver(chunk.substr(200000));
    std::string ack;
    ASSERT_TRUE(peer.Expect(downloader, 8, &ack));
    EXPECT_EQ(Hex(ack), kAck);
    EXPECT_EQ(downloader.GetReceivedSize(), content.size());
    Deliver(EndFrame());
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.complete; }));
    EXPECT_FALSE(downloader.IsError());
    std::string written;
    ASSERT_TRUE(ReadWholeFile(target + "/" + kPatchName, &written));
    EXPECT_TRUE(written == content);
}

TEST_F(ScriptedTransfer, EmptyTargetDirectoryWritesTheKindsOwnName)
{
    ASSERT_TRUE(downloader.GetFile(FILE_KIND_UPDATER, nullptr));
    std::string request;
    ASSERT_TRUE(peer.Expect(downloader, 20, &request));
    // Names compare without regard to case; the file keeps the kind's own spelling.
    Deliver(BeginFrame(std::string("updaternew.EXE") + '\0', 0));
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.file_path.Get() != nullptr; }));
    EXPECT_STREQ(downloader.file_path.Get(), "UpdaterNew.exe");
    EXPECT_STREQ(downloader.target_dir.Get(), "");
    // The name is not written here: that would land in the tests' working directory.
    downloader.Close();
}

TEST_F(ScriptedTransfer, AnEmptyFileIsCreatedAndAnOlderOneReplaced)
{
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(target + "/" + kPatchName, "older contents"));
    Request();
    Deliver(BeginFrame(kPatchNameZ, 0) + EndFrame());
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
    EXPECT_FALSE(downloader.IsError());
    std::string written = "x";
    ASSERT_TRUE(ReadWholeFile(target + "/" + kPatchName, &written));
    EXPECT_EQ(written, "");
}

TEST_F(ScriptedTransfer, FileFailedClosesAndLeavesTheRequestOutstanding)
{
    Request(FILE_KIND_UPDATER);
    Deliver(Frame(MSG_FILE_FAILED, ""));
    ASSERT_TRUE(peer.WaitClosed(downloader));
    EXPECT_TRUE(downloader.IsError());
    EXPECT_FALSE(downloader.in_progress) << "nothing is asked for after an interruption";
    EXPECT_FALSE(downloader.complete);
    EXPECT_TRUE(downloader.IsCompleteOrError());
}

TEST_F(ScriptedTransfer, PeerLostMidTransferIsAnError)
{
    Request();
    Deliver(BeginFrame(kPatchNameZ, 100) + DataFrame(std::string(10, 'a')));
    std::string ack;
    ASSERT_TRUE(peer.Expect(downloader, 8, &ack));
    EXPECT_EQ(downloader.GetReceivedSize(), 10u);
    peer.Close();
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
    EXPECT_TRUE(downloader.IsError());
    EXPECT_FALSE(downloader.complete);
    EXPECT_FALSE(FileExists(target + "/" + kPatchName));
}

TEST_F(ScriptedTransfer, MessagesOutsideTheTransferChangeNothing)
{
    Request();
    Deliver(BeginFrame(kPatchNameZ, 4));
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetTotalSize() == 4; }));
    // An acknowledgement, the client's own request id, ids beyond the conversation and a
    // transport id: none is acted on. Then the transfer goes on.
    Deliver(Frame(MSG_FILE_DATA_ACK, "") + Frame(MSG_GET_FILE, Dword(1002) + Dword(0) + Dword(0)) +
            Frame(263, Dword(1)) + Frame(4096, "") + Frame(255, "") + DataFrame("abcd") + EndFrame());
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
    EXPECT_FALSE(downloader.IsError());
    std::string written;
    ASSERT_TRUE(ReadWholeFile(target + "/" + kPatchName, &written));
    EXPECT_EQ(written, "abcd");
}

// Every transfer that breaks the protocol fails: error set, connection closed, nothing
// written under the final name, an older file of that name untouched, no partial file.
TEST(DownloaderUntrustedServer, ProtocolBreachesFailTheTransferAndWriteNothing)
{
    struct CASE {
        const char* what;
        std::string frames;
        bool targetDirMayExist;
    };
    const std::string z(1, '\0');
    // Each stream stops right after the offending message: the downloader must close the
    // connection on that message alone.
    const std::vector<CASE> cases = {
        {"parent directory", BeginFrame("../" + kPatchName + z, 3), false},
        {"bare ..", BeginFrame(".." + z, 3), false},
        {"absolute path", BeginFrame("/tmp/" + kPatchName + z, 3), false},
        {"directory part", BeginFrame("sub/" + kPatchName + z, 3), false},
        {"backslash directory", BeginFrame("sub\\" + kPatchName + z, 3), false},
        {"drive", BeginFrame("C:" + kPatchName + z, 3), false},
        {"stream", BeginFrame(kPatchName + ":evil" + z, 3), false},
        {"device", BeginFrame("NUL" + z, 3), false},
        {"empty name", BeginFrame(z, 3), false},
        {"another name for the patch", BeginFrame("other.rxpack" + z, 3), true},
        {"the game", BeginFrame("Velgrim.exe" + z, 3), false},
        {"the launcher", BeginFrame("Updater.exe" + z, 3), false},
        {"the updater's name for the patch", BeginFrame("UpdaterNew.exe" + z, 3), false},
        {"the version file", BeginFrame("version.txt" + z, 3), false},
        {"chunk past the size", BeginFrame(kPatchNameZ, 10) + DataFrame(std::string(64, 'x')), true},
        {"second chunk past the size",
         BeginFrame(kPatchNameZ, 10) + DataFrame(std::string(6, 'x')) + DataFrame(std::string(60, 'y')), true},
        {"chunk before the announcement", DataFrame("abc"), false},
        {"second announcement", BeginFrame(kPatchNameZ, 3) + DataFrame("ab") + BeginFrame(kPatchNameZ, 3), true},
        {"size 0xFFFFFFFF", BeginFrame(kPatchNameZ, 0xFFFFFFFFu), false},
        {"end before every byte", BeginFrame(kPatchNameZ, 10) + DataFrame("abcd") + EndFrame(), true},
        {"end without announcement", EndFrame(), false},
        {"name count past the body", Frame(MSG_FILE_BEGIN, Dword(100) + "Velgrim" + Dword(3)), false},
        {"size missing", Frame(MSG_FILE_BEGIN, Counted(kPatchNameZ)), false},
        {"chunk count past the body", BeginFrame(kPatchNameZ, 10) + Frame(MSG_FILE_DATA, Dword(10) + "abc"), true},
        {"negative chunk count", BeginFrame(kPatchNameZ, 10) + Frame(MSG_FILE_DATA, Dword(0xFFFFFFFFu) + "abc"), true},
        // Chunks large enough to be taken in pieces, refused at their first piece.
        {"large chunk past the size", BeginFrame(kPatchNameZ, 10) + DataFrame(std::string(100000, 'x')), true},
        {"large chunk count past the body",
         BeginFrame(kPatchNameZ, 300000) + Frame(MSG_FILE_DATA, Dword(200001) + std::string(200000, 'x')), true},
        {"large negative chunk count",
         BeginFrame(kPatchNameZ, 300000) + Frame(MSG_FILE_DATA, Dword(0xFFFFFFFFu) + std::string(200000, 'x')), true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TRACE_CAPTURE trace;
        TEMP_DIR dir;
        const std::string target = dir / "target";
        DOWNLOADER downloader;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Request(downloader, FILE_KIND_PATCH, target));
        if (c.targetDirMayExist) {
            ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
            ASSERT_TRUE(WriteWholeFile(target + "/" + kPatchName, "older"));
        }
        ASSERT_TRUE(peer.Send(c.frames));
        EXPECT_TRUE(peer.WaitClosed(downloader)) << "the downloader drops the connection";
        EXPECT_TRUE(downloader.IsError());
        EXPECT_TRUE(downloader.IsCompleteOrError());
        EXPECT_FALSE(trace.ErrorTexts().empty());
        if (c.targetDirMayExist) {
            std::string old;
            EXPECT_TRUE(ReadWholeFile(target + "/" + kPatchName, &old));
            EXPECT_EQ(old, "older");
            EXPECT_EQ(FileNames(target), std::vector<std::string>{kPatchName}) << "nothing beside it";
        } else {
            EXPECT_FALSE(FileExists(target)) << "not even the directory is made";
        }
        EXPECT_FALSE(FileExists(dir / kPatchName));
    }
}

// Messages at the wrong time: an announcement before any request, a version answer pushed
// during a transfer.
TEST(DownloaderUntrustedServer, AnAnnouncementNobodyAskedForFailsAndWritesNothing)
{
    TEMP_DIR dir;
    CURRENT_DIR cd(dir.Path());
    DOWNLOADER downloader;
    DOWNLOADER_PEER peer;
    ASSERT_TRUE(peer.Connect(downloader));
    ASSERT_TRUE(peer.Send(BeginFrame(kPatchNameZ, 3) + DataFrame("abc") + EndFrame()));
    EXPECT_FALSE(downloader.GetVelgrimInfo(5000));
    EXPECT_TRUE(peer.WaitClosed(downloader));
    EXPECT_TRUE(downloader.IsError());
    EXPECT_TRUE(FileNames(dir.Path()).empty());
}

TEST_F(ScriptedTransfer, AVersionAnswerDuringATransferChangesNothing)
{
    ASSERT_TRUE(peer.Send(Frame(MSG_GET_INFO, Dword(0) + Dword(7) + Counted(std::string("a\0", 2)) + Dword(0))));
    ASSERT_TRUE(downloader.GetVelgrimInfo(5000));
    std::string infoRequest;
    ASSERT_TRUE(peer.Expect(downloader, 8, &infoRequest));
    Request();
    Deliver(BeginFrame(kPatchNameZ, 3) + Frame(MSG_GET_INFO, Dword(0) + Dword(9) + Counted(std::string("b\0", 2)) +
                                                                 Dword(5000)) +
            DataFrame("abc") + EndFrame());
    ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
    EXPECT_FALSE(downloader.IsError());
    EXPECT_EQ(downloader.game_version, 7u);
    EXPECT_EQ(downloader.updater_version, 0u);
    EXPECT_EQ(downloader.info_text, "a");
}

// A server that announces a file and then goes silent, stops inside a frame header, or
// trickles bytes that never make a message, fails the transfer once the bound passes.
TEST(DownloaderUntrustedServer, AStalledTransferFailsAfterTheBound)
{
    struct CASE {
        const char* what;
        std::string first;  // sent at once
        std::string trickle; // then one byte every 50 ms
    };
    const CASE cases[] = {
        {"silent after the announcement", BeginFrame(kPatchNameZ, 10), ""},
        {"stops inside a frame header", BeginFrame(kPatchNameZ, 10) + DataFrame("abcd").substr(0, 5), ""},
        {"trickles a chunk", BeginFrame(kPatchNameZ, 10), DataFrame("0123456789")},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        const std::string target = dir / "target";
        DOWNLOADER downloader;
        downloader.m_uStallTimeoutMs = 300;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Request(downloader, FILE_KIND_PATCH, target));
        ASSERT_TRUE(peer.Send(c.first));
        const uint64_t start = MonotonicMs();
        size_t sent = 0;
        while (!downloader.IsCompleteOrError() && MonotonicMs() - start < 5000) {
            if (sent < c.trickle.size())
                peer.Send(c.trickle.substr(sent++, 1));
            PumpUntil(downloader, [] { return false; }, 50);
        }
        EXPECT_TRUE(downloader.IsError());
        EXPECT_LT(MonotonicMs() - start, 3000u);
        if (!c.trickle.empty()) {
            EXPECT_LT(sent, c.trickle.size()) << "failed before the trickle made a message";
        }
        EXPECT_TRUE(peer.WaitClosed(downloader));
        EXPECT_FALSE(FileExists(target + "/" + kPatchName));
        EXPECT_FALSE(FileExists(target + "/" + kPatchName + ".part"));
    }
}

// Only progress holds the window: a server that keeps sending frames that carry no file
// (every 100 ms here, against a bound of 800 ms) fails at the bound all the same, while
// one that sends 16 KiB of the file within each bound goes on.
TEST(DownloaderUntrustedServer, OnlyProgressResetsTheStallBound)
{
    const unsigned int bound = 800;
    struct CASE {
        const char* what;
        std::string frame; // sent every 100 ms after the announcement
        bool fails;
    };
    const CASE cases[] = {
        {"an unknown id", Frame(300, "noise"), true},
        {"stray acknowledgements", Frame(MSG_FILE_DATA_ACK, ""), true},
        {"stray version answers", Frame(MSG_GET_INFO, Dword(0) + Dword(7) + Counted(std::string("a\0", 2)) + Dword(0)),
         true},
        {"empty chunks", DataFrame(""), true},
        {"chunks of 1 KiB", DataFrame(std::string(1024, 'c')), true},
        {"chunks of 8 KiB", DataFrame(std::string(8192, 'c')), false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        DOWNLOADER downloader;
        downloader.m_uStallTimeoutMs = bound;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Request(downloader, FILE_KIND_PATCH, dir / "target"));
        ASSERT_TRUE(peer.Send(BeginFrame(kPatchNameZ, 100 * 1024 * 1024)));
        const uint64_t start = MonotonicMs();
        uint64_t failedAfter = 0;
        while (MonotonicMs() - start < 3 * bound) {
            ASSERT_TRUE(peer.Send(c.frame));
            if (PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }, 100)) {
                failedAfter = MonotonicMs() - start;
                break;
            }
        }
        EXPECT_EQ(downloader.IsError(), c.fails);
        if (c.fails) {
            EXPECT_GE(failedAfter, bound) << "failed before the bound";
        }
    }
}

TEST_F(ScriptedTransfer, AFileThatCannotBeWrittenIsAnErrorAndLeavesNoPartialFile)
{
    Request();
    // A directory stands where the file should go: the move over it fails.
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((target + "/" + kPatchName).c_str(), nullptr));
    Deliver(BeginFrame(kPatchNameZ, 3) + DataFrame("abc") + EndFrame());
    ASSERT_TRUE(peer.WaitClosed(downloader));
    EXPECT_TRUE(downloader.complete);
    EXPECT_TRUE(downloader.IsError());
    EXPECT_EQ(GetFileAttributesA((target + "/" + kPatchName).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(FileExists(target + "/" + kPatchName + ".part"));
}

TEST_F(ScriptedTransfer, AFileThatCannotBeCreatedIsAnError)
{
    // The target directory cannot be made: a file has its name.
    ASSERT_TRUE(WriteWholeFile(target, "a file, not a directory"));
    Request();
    Deliver(BeginFrame(kPatchNameZ, 3) + DataFrame("abc") + EndFrame());
    ASSERT_TRUE(peer.WaitClosed(downloader));
    EXPECT_TRUE(downloader.IsError());
    EXPECT_TRUE(downloader.IsCompleteOrError());
}

#ifndef _WIN32
// A write cut short (here by a file-size limit, as a full disk would) fails the transfer at
// that chunk and keeps the older file.
TEST_F(ScriptedTransfer, AShortWriteIsAnErrorAndKeepsTheOlderFile)
{
    Request();
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(target + "/" + kPatchName, "older"));
    const std::string content(64 * 1024, 'z');

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Deliver(BeginFrame(kPatchNameZ, static_cast<uint32_t>(content.size())) + DataFrame(content) + EndFrame());
    const bool ended = PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(ended);
    EXPECT_TRUE(downloader.IsError());
    EXPECT_FALSE(downloader.complete) << "the end never counts after a failed write";
    std::string old;
    ASSERT_TRUE(ReadWholeFile(target + "/" + kPatchName, &old));
    EXPECT_EQ(old, "older");
    EXPECT_FALSE(FileExists(target + "/" + kPatchName + ".part"));
}
#endif

TEST_F(ScriptedTransfer, VersionAnswerIsStoredAndOtherMessagesDoNotEndTheWait)
{
    std::string request;
    // The answer comes after an unrelated message; the wait goes on until it.
    const std::string text("a\0", 2);
    const std::string answer = Dword(5) + Dword(7) + Counted(text) + Dword(9);
    ASSERT_TRUE(peer.Send(Frame(MSG_FILE_DATA_ACK, "") + Frame(MSG_GET_INFO, answer)));
    EXPECT_TRUE(downloader.GetVelgrimInfo(5000));
    EXPECT_EQ(downloader.game_version, 7u);
    EXPECT_EQ(downloader.updater_version, 9u);
    EXPECT_EQ(downloader.info_text, "a");
    ASSERT_TRUE(RecvExactly(peer.Socket(), 8, &request, 2000));
    EXPECT_EQ(Hex(request), "06 01 00 00 00 00 00 00");
}

TEST_F(ScriptedTransfer, VersionWaitIsBoundedAndAMalformedAnswerChangesNothing)
{
    // Silent server: false within the bound.
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(downloader.GetVelgrimInfo(300));
    EXPECT_LT(MonotonicMs() - start, 3000u);
    EXPECT_EQ(downloader.updater_version, 0xFFFFFFFFu);
    EXPECT_EQ(downloader.game_version, 0u);

    // An answer whose text count runs past the body.
    ASSERT_TRUE(peer.Send(Frame(MSG_GET_INFO, Dword(5) + Dword(7) + Dword(50) + "abc")));
    EXPECT_FALSE(downloader.GetVelgrimInfo(5000));
    EXPECT_EQ(downloader.updater_version, 0xFFFFFFFFu);
    EXPECT_EQ(downloader.game_version, 0u);
    EXPECT_EQ(downloader.info_text, "");

    // A text without its zero byte is taken up to the end of its count.
    ASSERT_TRUE(peer.Send(Frame(MSG_GET_INFO, Dword(0) + Dword(3) + Counted("news") + Dword(1024))));
    EXPECT_TRUE(downloader.GetVelgrimInfo(5000));
    EXPECT_EQ(downloader.info_text, "news");
    EXPECT_EQ(downloader.updater_version, 1024u);

    // The server goes away: the wait ends at once with false.
    peer.Close();
    const uint64_t closedAt = MonotonicMs();
    EXPECT_FALSE(downloader.GetVelgrimInfo(5000));
    EXPECT_LT(MonotonicMs() - closedAt, 3000u);
    EXPECT_EQ(downloader.game_version, 3u);
}

TEST(Downloader, NotConnectedMeansNoRequestAndAnError)
{
    DOWNLOADER downloader;
    EXPECT_EQ(downloader.updater_version, 0xFFFFFFFFu);
    EXPECT_EQ(downloader.game_version, 0u);
    EXPECT_FALSE(downloader.GetVelgrimInfo(100));
    EXPECT_FALSE(downloader.GetFile(FILE_KIND_PATCH, ""));
    EXPECT_TRUE(downloader.IsError());
    EXPECT_FALSE(downloader.in_progress);
    EXPECT_TRUE(downloader.IsCompleteOrError());

    // Nobody listens: Connect fails and nothing is registered.
    unsigned short port = 0;
    {
        SOCKET_HOLDER probe(ListenLoopback(&port));
    }
    EXPECT_FALSE(downloader.Connect("127.0.0.1", port));
}

TEST(Downloader, SetFormattedKeepsAtMost511Characters)
{
    HEAP_STR text("old");
    SetFormatted(text, "%s/%s", "dir", "Velgrim_patch.rxpack");
    EXPECT_STREQ(text.Get(), "dir/Velgrim_patch.rxpack");
    SetFormatted(text, "%s", std::string(600, 'x').c_str());
    EXPECT_EQ(std::string(text.Get()), std::string(511, 'x'));
}
