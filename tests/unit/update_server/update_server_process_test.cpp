// The update-server program, started by the tests (Linux): many clients, misbehaving
// clients, reload, command line and exit.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "downloader/downloader.h"
#include "net/net_client.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "platform/socket_poll.h"
#include "support/downloader_peer.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "support/update_server_process.h"

namespace {

const std::string kProgram = VELGRIM_UPDATE_SERVER;

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

void WriteRelease(const std::string& dir, const std::string& conf, const std::string& patch)
{
    ASSERT_TRUE(WriteWholeFile(dir + "/release.conf", conf));
    ASSERT_TRUE(WriteWholeFile(dir + "/Velgrim_patch.rxpack", patch));
}

// Pumps a downloader until its transfer ends (bounded).
bool PumpToEnd(DOWNLOADER& d, int timeoutMs = 60000)
{
    return PumpUntil(d, [&] { return d.IsCompleteOrError(); }, timeoutMs);
}

// A client that checks each chunk against the expected file as it comes, acknowledges it
// and keeps nothing: two hundred of them cost the test little memory.
class CHECKING_CLIENT final : public NET_MESSAGE_RECEIVER {
public:
    explicit CHECKING_CLIENT(const std::string& expected) : m_Expected(expected) {}

    bool Start(unsigned short port)
    {
        if (!client.Init() || !client.Connect("127.0.0.1", port))
            return false;
        client.m_pConnect->m_pReceiver = this;
        NET_MESSAGE_HELPER request;
        request.PushDword(FILE_KIND_PATCH);
        request.PushDword(0);
        request.PushDword(0);
        request.Send(client.m_pConnect, MSG_GET_FILE);
        return true;
    }

    void ProcessMessage(short id, const char* data, int length) override
    {
        NET_MESSAGE_HELPER reader;
        reader.InitRead(data, length);
        if (id == MSG_FILE_BEGIN) {
            reader.GetString();
            begun = reader.GetDword() == m_Expected.size();
        } else if (id == MSG_FILE_DATA) {
            int n = 0;
            const char* chunk = reader.GetData(&n);
            if (!begun || offset + n > m_Expected.size() || std::memcmp(chunk, m_Expected.data() + offset, n) != 0)
                mismatch = true;
            offset += static_cast<size_t>(n);
            client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
        } else if (id == MSG_FILE_END) {
            ended = true;
            client.Disconnect();
        } else {
            mismatch = true;
        }
    }

    bool Done() const { return ended || mismatch || !client.IsConnected(); }

    NET_CLIENT client;
    bool begun = false;
    bool ended = false;
    bool mismatch = false;
    size_t offset = 0;

private:
    const std::string& m_Expected;
};

class UpdateServerProcess : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& args = {})
    {
        ASSERT_TRUE(server.Start(release.Path(), logs / "server.log", args)) << server.Log();
    }

    TEMP_DIR release;
    TEMP_DIR logs;
    UPDATE_SERVER_PROCESS server{kProgram};
};

} // namespace

TEST_F(UpdateServerProcess, TwoHundredClientsGetTheSameFileWithLittleMemory)
{
    const std::string patch = BarePackage(RandomBytes(8u << 20, 1));
    WriteRelease(release.Path(), "game_version = 3\n", patch);
    Start({"--budget-mib", "16"});

    const int kClients = 200;
    std::vector<std::unique_ptr<CHECKING_CLIENT>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back(new CHECKING_CLIENT(patch));
        ASSERT_TRUE(clients.back()->Start(server.Port())) << "client " << i;
    }
    const uint64_t deadline = MonotonicMs() + 240000;
    for (;;) {
        bool all = true;
        std::vector<SOCKET_POLL_ENTRY> waiting;
        for (auto& c : clients) {
            if (c->Done())
                continue;
            all = false;
            c->client.Process();
            if (!c->Done())
                waiting.push_back({c->client.m_Socket, true, c->client.m_pConnect->m_iSendLen > 0});
        }
        if (all || MonotonicMs() > deadline)
            break;
        SocketPollMany(waiting.data(), waiting.size(), 10);
    }
    int complete = 0;
    for (auto& c : clients)
        complete += (c->ended && !c->mismatch && c->offset == patch.size()) ? 1 : 0;
    EXPECT_EQ(complete, kClients);

    // The file is held once; queued data stays within the 16 MiB budget.
    const long peakKiB = server.MemoryKiB("VmHWM");
    ASSERT_GT(peakKiB, 0);
    const long fileKiB = static_cast<long>(patch.size() / 1024);
    EXPECT_LT(peakKiB, fileKiB * kClients / 8) << "peak " << peakKiB << " KiB";
    RecordProperty("server_peak_kib", static_cast<int>(peakKiB));
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(UpdateServerProcess, MisbehavingClientsAreDroppedWithoutDisturbingOthers)
{
    const std::string patch = BarePackage(RandomBytes(8u << 20, 2));
    WriteRelease(release.Path(), "game_version = 4\n", patch);
    Start({"--idle-timeout", "2"});

    struct BAD {
        const char* what;
        std::string bytes;
        const char* reason; // in the server's log line
    };
    const std::string request = Frame(MSG_GET_FILE, Dword(FILE_KIND_PATCH) + Dword(0) + Dword(0));
    std::string flood;
    for (int i = 0; i < 100; ++i)
        flood += Frame(MSG_GET_INFO, "");
    const std::vector<BAD> bad = {
        {"garbage header", Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0x10, 0, 0, 0}) + RandomBytes(64, 3),
         "a malformed frame header"},
        {"body too long to be a request", Frame(MSG_GET_FILE, std::string(257, '\0')),
         "message 256 with a body of 257 bytes"},
        {"huge body announced", FrameHeader(MSG_GET_FILE, 50000000), "message 256 with a body of 50000000 bytes"},
        {"id outside the conversation", Frame(300, ""), "message 300 with a body of 0 bytes"},
        {"transport id", Frame(5, ""), "a frame with the transport's id 5"},
        {"acknowledgement without a chunk", Frame(MSG_FILE_DATA_ACK, ""), "an acknowledgement with no chunk"},
        {"second request during a transfer", request + request, "a second MSG_GET_FILE during a transfer"},
        {"flood", flood, "too many requests"},
        {"silent", "", "silent for 2 s"},
        {"never reads", request, "silent for 2 s"},
    };
    std::vector<std::unique_ptr<SOCKET_HOLDER>> sockets;
    for (const BAD& b : bad) {
        sockets.emplace_back(new SOCKET_HOLDER(ConnectLoopback(server.Port(), 64 * 1024)));
        ASSERT_NE(sockets.back()->Get(), INVALID_SOCKET) << b.what;
        ASSERT_TRUE(b.bytes.empty() || SendAll(sockets.back()->Get(), b.bytes)) << b.what;
    }
    // One more leaves in the middle of its transfer.
    {
        SOCKET_HOLDER leaver(ConnectLoopback(server.Port()));
        ASSERT_TRUE(SendAll(leaver.Get(), request));
        std::string some;
        ASSERT_TRUE(RecvExactly(leaver.Get(), 100000, &some, 5000));
    }

    TEMP_DIR target;
    DOWNLOADER good;
    ASSERT_TRUE(good.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(good.GetVelgrimInfo(10000));
    EXPECT_EQ(good.game_version, 4u);
    ASSERT_TRUE(good.GetFile(FILE_KIND_PATCH, target.Path().c_str()));
    ASSERT_TRUE(PumpToEnd(good));
    EXPECT_FALSE(good.IsError());
    std::string got;
    ASSERT_TRUE(ReadWholeFile(target / "Velgrim_patch.rxpack", &got));
    EXPECT_TRUE(got == patch);

    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(bad[i].what);
        EXPECT_TRUE(WaitPeerClosed(sockets[i]->Get(), 10000));
        const std::string peer = "127.0.0.1:" + std::to_string(LocalPort(sockets[i]->Get())) + " connection ended";
        EXPECT_TRUE(server.WaitForLog(peer, 5000));
        const std::string log = server.Log();
        const size_t at = log.find(peer);
        ASSERT_NE(at, std::string::npos);
        const std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_NE(line.find(bad[i].reason), std::string::npos) << line;
    }
    EXPECT_NE(server.Log().find("stopped sending Velgrim_patch.rxpack (kind 1002) after"), std::string::npos);

    // Still serving.
    DOWNLOADER after;
    ASSERT_TRUE(after.Connect("127.0.0.1", server.Port()));
    EXPECT_TRUE(after.GetVelgrimInfo(10000));
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(UpdateServerProcess, ReloadOnSighupKeepsTransfersUnderWay)
{
    // Larger than one step of the downloader can take in on loopback: the first transfer is
    // still under way when the release changes.
    const std::string oldPatch = BarePackage(RandomBytes(48u << 20, 4));
    const std::string newPatch = BarePackage(RandomBytes(5u << 20, 5));
    WriteRelease(release.Path(), "game_version = 1\n", oldPatch);
    Start();

    TEMP_DIR firstDir;
    DOWNLOADER first;
    ASSERT_TRUE(first.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(first.GetFile(FILE_KIND_PATCH, firstDir.Path().c_str()));
    ASSERT_TRUE(PumpUntil(first, [&] { return first.GetReceivedSize() > 0 || first.IsCompleteOrError(); }));
    ASSERT_FALSE(first.IsCompleteOrError());

    // The new release replaces the files by rename, as `rxpack release` publishes one.
    TEMP_DIR next;
    WriteRelease(next.Path(), "game_version = 2\nupdater_version = 0\n", newPatch);
    for (const char* name : {"release.conf", "Velgrim_patch.rxpack"})
        ASSERT_EQ(std::rename((next / name).c_str(), (release / name).c_str()), 0);
    ASSERT_TRUE(server.Signal(SIGHUP));
    ASSERT_TRUE(server.WaitForLog("update-server: reloaded")) << server.Log();

    TEMP_DIR secondDir;
    DOWNLOADER second;
    ASSERT_TRUE(second.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(second.GetVelgrimInfo(10000));
    EXPECT_EQ(second.game_version, 2u);
    ASSERT_TRUE(second.GetFile(FILE_KIND_PATCH, secondDir.Path().c_str()));
    ASSERT_TRUE(PumpToEnd(second));
    EXPECT_FALSE(second.IsError());
    std::string got;
    ASSERT_TRUE(ReadWholeFile(secondDir / "Velgrim_patch.rxpack", &got));
    EXPECT_TRUE(got == newPatch);

    ASSERT_TRUE(PumpToEnd(first));
    EXPECT_FALSE(first.IsError());
    ASSERT_TRUE(ReadWholeFile(firstDir / "Velgrim_patch.rxpack", &got));
    EXPECT_TRUE(got == oldPatch) << "the transfer under way keeps the file it started with";

    // A package rewritten in place under a transfer is never sent mixed: the transfer
    // ends, and new requests for it are refused until a reload.
    // The client acknowledges nothing until the file has been rewritten: the server has
    // queued at most its window of first chunks by then.
    SOCKET_HOLDER fourth(ConnectLoopback(server.Port()));
    ASSERT_TRUE(SendAll(fourth.Get(), Frame(MSG_GET_FILE, Dword(FILE_KIND_PATCH) + Dword(0) + Dword(0))));
    std::string some;
    ASSERT_TRUE(RecvExactly(fourth.Get(), 100000, &some, 5000));
    ASSERT_TRUE(WriteWholeFile(release / "Velgrim_patch.rxpack", oldPatch));
    const std::string ack = Frame(MSG_FILE_DATA_ACK, "");
    ASSERT_TRUE(SendAll(fourth.Get(), ack + ack + ack));
    EXPECT_TRUE(WaitPeerClosed(fourth.Get(), 10000));
    EXPECT_TRUE(server.WaitForLog("changed on disk since it was loaded (reload to serve it)")) << server.Log();
    DOWNLOADER fifth;
    TEMP_DIR fifthDir;
    ASSERT_TRUE(fifth.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(fifth.GetFile(FILE_KIND_PATCH, fifthDir.Path().c_str()));
    ASSERT_TRUE(PumpToEnd(fifth));
    EXPECT_TRUE(fifth.IsError()) << "refused, not sent mixed";

    // A broken release is not taken; the last good one stays.
    ASSERT_TRUE(WriteWholeFile(release / "release.conf", "game_version = three\n"));
    ASSERT_TRUE(server.Signal(SIGHUP));
    ASSERT_TRUE(server.WaitForLog("reload failed, still serving the previous release")) << server.Log();
    DOWNLOADER third;
    ASSERT_TRUE(third.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(third.GetVelgrimInfo(10000));
    EXPECT_EQ(third.game_version, 2u);
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(UpdateServerProcess, RateCapHoldsEachClientBack)
{
    // 512 KiB at 256 KiB/s cannot arrive in much less than two seconds, however fast the link.
    const std::string patch = BarePackage(RandomBytes(512u << 10, 7));
    WriteRelease(release.Path(), "game_version = 1\n", patch);
    Start({"--rate-kib", "256"});
    TEMP_DIR target;
    DOWNLOADER d;
    ASSERT_TRUE(d.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(d.GetFile(FILE_KIND_PATCH, target.Path().c_str()));
    const uint64_t began = MonotonicMs();
    ASSERT_TRUE(PumpToEnd(d));
    EXPECT_GE(MonotonicMs() - began, 1500u);
    EXPECT_FALSE(d.IsError());
    std::string got;
    ASSERT_TRUE(ReadWholeFile(target / "Velgrim_patch.rxpack", &got));
    EXPECT_TRUE(got == patch);
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(UpdateServerProcess, StopsCleanlyOnSigtermAndSigint)
{
    WriteRelease(release.Path(), "game_version = 1\n", BarePackage(RandomBytes(1u << 20, 6)));
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Start();
        SOCKET_HOLDER client(ConnectLoopback(server.Port()));
        std::string greeting;
        ASSERT_TRUE(RecvExactly(client.Get(), 8, &greeting, 5000));
        EXPECT_EQ(Hex(greeting), "02 00 00 00 00 00 00 00");
        ASSERT_TRUE(server.Signal(signal));
        EXPECT_TRUE(WaitPeerClosed(client.Get(), 5000));
        EXPECT_EQ(server.Stop(), 0);
        const std::string log = server.Log();
        EXPECT_NE(log.find("connection ended after"), std::string::npos) << log;
        EXPECT_NE(log.find("server stopping"), std::string::npos) << log;
        EXPECT_NE(log.find("update-server: stopped"), std::string::npos) << log;
    }
}

TEST(UpdateServerCommandLine, BadArgumentsAndReleasesGiveClearErrors)
{
    TEMP_DIR good;
    WriteRelease(good.Path(), "game_version = 1\n", BarePackage());
    TEMP_DIR noPatch;
    ASSERT_TRUE(WriteWholeFile(noPatch / "release.conf", "game_version = 1\n"));
    TEMP_DIR notAPackage;
    WriteRelease(notAPackage.Path(), "game_version = 1\n", "P");
    TEMP_DIR badConf;
    WriteRelease(badConf.Path(), "game_version = 1\nchannel = beta\n", BarePackage());
    // A folder where the patch belongs, a byte-order mark and a comment the help allows.
    TEMP_DIR folderPatch;
    ASSERT_TRUE(WriteWholeFile(folderPatch / "release.conf", "game_version = 1\n"));
    ASSERT_TRUE(CreateDirectoryA((folderPatch / "Velgrim_patch.rxpack").c_str(), nullptr));
    TEMP_DIR markedConf;
    WriteRelease(markedConf.Path(), "\xEF\xBB\xBFgame_version = 1 # spring\nchanel = 2\n", BarePackage());
    struct CASE {
        std::vector<std::string> args;
        int status;
        const char* output;
    };
    const std::vector<CASE> cases = {
        {{"--help"}, 0, "Usage: update-server [options] RELEASE_DIR"},
        {{}, 2, "update-server: no release directory given\nTry 'update-server --help'."},
        {{"--port", "x", good.Path()}, 2, "--port needs a whole number"},
        {{"--frobnicate", good.Path()}, 2, "unknown option '--frobnicate'"},
        {{"--listen", "1.2.3", good.Path()}, 2, "--listen needs an IPv4 address"},
        {{"/no/such/dir"}, 2, "bad release directory: /no/such/dir: not a directory"},
        {{noPatch.Path()}, 2, "Velgrim_patch.rxpack: missing"},
        {{badConf.Path()}, 2, "release.conf: line 2: unknown key 'channel'"},
        {{folderPatch.Path()}, 2, "Velgrim_patch.rxpack: cannot be opened: Is a directory (EISDIR)"},
        {{markedConf.Path()}, 2, "release.conf: line 2: unknown key 'chanel'"},
        {{"--version"}, 0, "update-server "},
        {{notAPackage.Path()}, 2, "Velgrim_patch.rxpack: not a sound package: the header is short"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.output);
        std::string output;
        EXPECT_EQ(UPDATE_SERVER_PROCESS::Run(kProgram, c.args, &output), c.status);
        EXPECT_NE(output.find(c.output), std::string::npos) << output;
    }

    // A port that is taken: exit 1 and why.
    unsigned short port = 0;
    SOCKET_HOLDER taken(ListenLoopback(&port));
    std::string output;
    EXPECT_EQ(UPDATE_SERVER_PROCESS::Run(kProgram, {"--listen", "127.0.0.1", "--port", std::to_string(port), good.Path()},
                                         &output),
              1);
    EXPECT_NE(output.find("cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use (EADDRINUSE)"),
              std::string::npos)
        << output;
}

#endif
