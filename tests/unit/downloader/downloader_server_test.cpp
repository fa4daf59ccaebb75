// The downloader against the real update-server on loopback (see
// tests/support/update_server_fixture.sh for the releases served).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "downloader/downloader.h"
#include "net/net_byte_order.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "support/downloader_peer.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"
#include "support/test_update_servers.h"

#ifndef VELGRIM_UPDATE_SERVER
#define VELGRIM_UPDATE_SERVER ""
#endif

namespace {

// Counts the chunks that arrive, however many a step takes.
class COUNTING_DOWNLOADER : public DOWNLOADER {
public:
    void ProcessMessage(short id, const char* body, int length) override
    {
        if (id == MSG_FILE_DATA)
            ++m_uChunks;
        DOWNLOADER::ProcessMessage(id, body, length);
    }
    // A large chunk comes in pieces; it counts once, at its last.
    void ProcessMessagePiece(short id, const char* data, int length, uint32_t offset, bool last) override
    {
        if (id == MSG_FILE_DATA && last)
            ++m_uChunks;
        DOWNLOADER::ProcessMessagePiece(id, data, length, offset, last);
    }
    unsigned m_uChunks = 0;
};

class RealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        servers = new TEST_UPDATE_SERVERS(VELGRIM_UPDATE_SERVER,
                                          std::string(VELGRIM_SOURCE_DIR) + "/tests/support/update_server_fixture.sh");
    }
    static void TearDownTestSuite()
    {
        delete servers;
        servers = nullptr;
    }

    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(servers->Ready(&why)) << why;
    }

    bool Connect(const std::string& name)
    {
        const unsigned short port = servers->Port(name);
        if (port == 0 || !downloader->Connect("127.0.0.1", port))
            return false;
        localPort = LocalPort(downloader->client.m_Socket);
        return true;
    }

    std::string ReleaseFile(const std::string& relative)
    {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(servers->Path(relative), &bytes)) << relative;
        return bytes;
    }

    // Pumps as the update window does, without its 15 ms pause.
    bool PumpToEnd(int timeoutMs = 60000)
    {
        const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
        while (!downloader->IsCompleteOrError()) {
            if (MonotonicMs() >= deadline)
                return false;
            downloader->Process();
            if (downloader->client.m_Socket != INVALID_SOCKET)
                SocketWaitReadable(downloader->client.m_Socket, 5);
        }
        return true;
    }

    // The server's log line for this client's transfer of `name`.
    std::string TransferLine(const std::string& server, const std::string& name)
    {
        const std::string peer = "127.0.0.1:" + std::to_string(localPort) + " sent " + name;
        std::string log;
        const uint64_t deadline = MonotonicMs() + 5000;
        do {
            ReadWholeFile(servers->Path(server + ".log"), &log);
            const size_t at = log.find(peer);
            if (at != std::string::npos)
                return log.substr(at, log.find('\n', at) - at);
            SleepMs(20);
        } while (MonotonicMs() < deadline);
        return std::string();
    }

    static TEST_UPDATE_SERVERS* servers;
    TEMP_DIR dir;
    std::unique_ptr<COUNTING_DOWNLOADER> downloader{new COUNTING_DOWNLOADER};
    unsigned short localPort = 0;
};

TEST_UPDATE_SERVERS* RealServer::servers = nullptr;

} // namespace

TEST_F(RealServer, VersionQuery)
{
    ASSERT_TRUE(Connect("main"));
    EXPECT_TRUE(downloader->GetVelgrimInfo(10000));
    EXPECT_EQ(downloader->game_version, 1207u);
    EXPECT_EQ(downloader->updater_version, 1100u);
    EXPECT_EQ(downloader->info_text, "Patch 1207 is out.\r\nEnjoy!");

    DOWNLOADER other;
    ASSERT_TRUE(other.Connect("127.0.0.1", servers->Port("empty")));
    EXPECT_TRUE(other.GetVelgrimInfo(10000));
    EXPECT_EQ(other.game_version, 5u);
    EXPECT_EQ(other.updater_version, 1024u);
    EXPECT_EQ(other.info_text, "");
}

TEST_F(RealServer, PatchAndUpdaterArriveByteExactWithOneAcknowledgementPerChunk)
{
    struct CASE {
        int kind;
        const char* name;
    };
    for (const CASE c : {CASE{FILE_KIND_PATCH, "Velgrim_patch.rxpack"}, CASE{FILE_KIND_UPDATER, "UpdaterNew.exe"}}) {
        SCOPED_TRACE(c.name);
        downloader.reset(new COUNTING_DOWNLOADER);
        ASSERT_TRUE(Connect("main"));
        ASSERT_TRUE(downloader->GetVelgrimInfo(10000));
        ASSERT_TRUE(downloader->GetFile(c.kind, dir.Path().c_str()));
        ASSERT_TRUE(PumpToEnd());
        EXPECT_FALSE(downloader->IsError());
        EXPECT_TRUE(downloader->complete);
        std::string got;
        ASSERT_TRUE(ReadWholeFile(dir / c.name, &got));
        const std::string expected = ReleaseFile(std::string("main/") + c.name);
        EXPECT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected) << "contents differ";
        EXPECT_FALSE(FileExists(dir / (std::string(c.name) + ".part")));

        // The server sends the end only once every chunk is acknowledged, and counts them.
        const std::string line = TransferLine("main", c.name);
        ASSERT_FALSE(line.empty()) << "no transfer line for port " << localPort;
        EXPECT_NE(line.find(": " + std::to_string(expected.size()) + " bytes in "), std::string::npos) << line;
        EXPECT_NE(line.find(", " + std::to_string(downloader->m_uChunks) + " chunks,"), std::string::npos) << line;
        EXPECT_GT(downloader->m_uChunks, 1u);
    }
}

TEST_F(RealServer, AnEmptyFileGivesAnEmptyFile)
{
    ASSERT_TRUE(WriteWholeFile(dir / "UpdaterNew.exe", "older"));
    ASSERT_TRUE(Connect("empty"));
    ASSERT_TRUE(downloader->GetFile(FILE_KIND_UPDATER, dir.Path().c_str()));
    ASSERT_TRUE(PumpToEnd());
    EXPECT_FALSE(downloader->IsError());
    EXPECT_EQ(downloader->m_uChunks, 0u);
    std::string got = "x";
    ASSERT_TRUE(ReadWholeFile(dir / "UpdaterNew.exe", &got));
    EXPECT_EQ(got, "");
}

TEST_F(RealServer, FilesNotOfferedAreRefused)
{
    struct CASE {
        const char* server;
        int kind;
    };
    // No updater in the "idle" release; kind 1004 is no kind at all.
    for (const CASE c : {CASE{"idle", FILE_KIND_UPDATER}, CASE{"main", 1004}}) {
        SCOPED_TRACE(c.kind);
        downloader.reset(new COUNTING_DOWNLOADER);
        ASSERT_TRUE(Connect(c.server));
        ASSERT_TRUE(downloader->GetFile(c.kind, dir.Path().c_str()));
        ASSERT_TRUE(PumpToEnd(10000));
        EXPECT_TRUE(downloader->IsError());
        EXPECT_FALSE(downloader->in_progress);
        EXPECT_FALSE(downloader->complete);
    }
    EXPECT_FALSE(FileExists(dir / "UpdaterNew.exe"));
}

// The "idle" server drops a client silent for a second: the downloader stops pumping
// mid-transfer, and sees the peer gone when it resumes.
TEST_F(RealServer, PeerLostMidTransferIsAnError)
{
    ASSERT_TRUE(Connect("idle"));
    ASSERT_TRUE(downloader->GetFile(FILE_KIND_PATCH, dir.Path().c_str()));
    const uint64_t deadline = MonotonicMs() + 10000;
    while (downloader->GetReceivedSize() == 0 && MonotonicMs() < deadline) {
        downloader->Process();
        SleepMs(1);
    }
    ASSERT_GT(downloader->GetReceivedSize(), 0u);
    SleepMs(2500);
    ASSERT_TRUE(PumpToEnd(20000));
    EXPECT_TRUE(downloader->IsError());
    EXPECT_FALSE(downloader->complete);
    EXPECT_LT(downloader->GetReceivedSize(), 16u << 20);
    EXPECT_FALSE(FileExists(dir / "Velgrim_patch.rxpack"));
}

namespace {

uint32_t TagOf(const std::string& bytes)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    EXPECT_TRUE(Sha256(bytes.data(), bytes.size(), digest));
    return ResumeTagOfDigest(digest);
}

// One frame read whole from a raw socket: its id and body.
bool ReadFrame(SOCKET s, uint32_t* id, std::string* body)
{
    std::string header;
    if (!RecvExactly(s, 8, &header, 10000))
        return false;
    *id = LoadLe32(header.data());
    return RecvExactly(s, LoadLe32(header.data() + 4), body, 10000);
}

} // namespace

// A client speaking the wire by hand: each request's MSG_FILE_BEGIN byte for byte, then the
// file from where the server said it starts. A request with tag 0 (a plain client, whatever
// its offset field holds) gets exactly the plain announcement and the whole file.
TEST_F(RealServer, FileRequestsAreAnsweredByteForByteFromTheirStart)
{
    const std::string patch = ReleaseFile("main/Velgrim_patch.rxpack");
    const std::string updater = ReleaseFile("main/UpdaterNew.exe");
    const uint32_t size = static_cast<uint32_t>(patch.size());
    const uint32_t tag = TagOf(patch);
    const uint32_t otherTag = tag == 2 ? 3 : 2;
    struct CASE {
        const char* what;
        uint32_t kind, offset, tag;
        bool resumable;
        uint32_t start;
    };
    const CASE cases[] = {
        {"a plain client", 1002, 0, 0, false, 0},
        {"nothing held", 1002, 0, RESUME_TAG_NONE, true, 0},
        {"a part of this file", 1002, 1000001, tag, true, 1000001},
        {"the last byte missing", 1002, size - 1, tag, true, size - 1},
        {"a part of another file", 1002, 1000001, otherTag, true, 0},
        {"a part as long as the file", 1002, size, tag, true, 0},
        {"a part of the updater", 1003, 999999, TagOf(updater), true, 999999},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string& file = c.kind == 1002 ? patch : updater;
        const std::string name = c.kind == 1002 ? "Velgrim_patch.rxpack" : "UpdaterNew.exe";
        SOCKET_HOLDER s(ConnectLoopback(servers->Port("main")));
        ASSERT_NE(s.Get(), INVALID_SOCKET);
        std::string greeting;
        ASSERT_TRUE(RecvExactly(s.Get(), 8, &greeting, 10000));
        EXPECT_EQ(Hex(greeting), "02 00 00 00 00 00 00 00");
        ASSERT_TRUE(SendAll(s.Get(), Frame(MSG_GET_FILE, Dword(c.kind) + Dword(c.offset) + Dword(c.tag))));
        uint32_t id = 0;
        std::string body;
        ASSERT_TRUE(ReadFrame(s.Get(), &id, &body));
        std::string expected = Counted(name + '\0') + Dword(static_cast<uint32_t>(file.size()));
        if (c.resumable)
            expected += Dword(TagOf(file)) + Dword(c.start);
        EXPECT_EQ(id, static_cast<uint32_t>(MSG_FILE_BEGIN));
        EXPECT_EQ(Hex(body), Hex(expected));
        std::string data;
        while (ReadFrame(s.Get(), &id, &body) && id == static_cast<uint32_t>(MSG_FILE_DATA)) {
            ASSERT_EQ(LoadLe32(body.data()), body.size() - 4);
            data += body.substr(4);
            ASSERT_TRUE(SendAll(s.Get(), Frame(MSG_FILE_DATA_ACK, "")));
        }
        EXPECT_EQ(id, static_cast<uint32_t>(MSG_FILE_END));
        EXPECT_EQ(body, "");
        EXPECT_EQ(data.size(), file.size() - c.start);
        EXPECT_TRUE(data == file.substr(c.start)) << "the data differs";
    }
}
