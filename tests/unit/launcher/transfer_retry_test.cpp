// Reconnects after a broken transfer, against a scripted server that breaks it and the
// real update-server (see tests/support/update_server_fixture.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "launcher/transfer_retry.h"
#include "platform/clock.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"
#include "support/test_update_servers.h"

#ifndef VELGRIM_UPDATE_SERVER
#define VELGRIM_UPDATE_SERVER ""
#endif

// A transfer cut by its server reconnects to the same server once, then to the next one,
// a second later, and goes on there; a server that offers another release by then ends
// the download. The notice of each reconnect names the server it goes to.
TEST(TransferRetry, TheSameServerOnceThenTheNextAndTheSameReleaseOnly)
{
    TEST_UPDATE_SERVERS servers(VELGRIM_UPDATE_SERVER,
                                std::string(VELGRIM_SOURCE_DIR) + "/tests/support/update_server_fixture.sh");
    std::string why;
    ASSERT_TRUE(servers.Ready(&why)) << why;
    const std::string main = "127.0.0.1:" + std::to_string(servers.Port("main"));
    struct CASE {
        const char* what;
        uint32_t gameVersion; // of the release being downloaded
        bool listPeerFirst;   // the cutting server is first in the list
        bool gaveUp;
        std::vector<std::string> notices; // the servers of the reconnects, in order
    };
    const CASE cases[] = {
        {"the cutting server is gone: the next one serves", 1207, true, false, {"peer", main}},
        {"the next one offers another release", 1206, false, true, {main}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        DOWNLOADER downloader;
        auto peer = std::make_unique<DOWNLOADER_PEER>();
        ASSERT_TRUE(peer->Connect(downloader));
        const std::string peerName = "127.0.0.1:" + std::to_string(peer->Port());
        std::vector<SERVER_ENDPOINT> list;
        if (c.listPeerFirst)
            list.push_back({"127.0.0.1", peer->Port()});
        list.push_back({"127.0.0.1", servers.Port("main")});
        TRANSFER_RETRY retry;
        retry.Prepare(list, 0, FILE_KIND_PATCH, c.gameVersion, 1100);

        ASSERT_TRUE(downloader.GetFile(FILE_KIND_PATCH, dir.Path().c_str()));
        std::string request;
        ASSERT_TRUE(peer->Expect(downloader, 20, &request));
        ASSERT_TRUE(peer->Send(BeginFrame("Velgrim_patch.rxpack" + std::string(1, '\0'), 100) + DataFrame("abc")));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() == 3; }));
        peer.reset(); // connection and listener: a reconnect to it is refused
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }));
        ASSERT_TRUE(retry.Begin(&downloader));

        std::vector<std::string> notices = {retry.Notice()};
        bool gaveUp = false;
        int seen = retry.Reconnects();
        while (retry.Active() && !gaveUp) {
            gaveUp = retry.Step(50) == TRANSFER_RETRY::GIVEN_UP;
            if (retry.Reconnects() != seen) {
                seen = retry.Reconnects();
                notices.push_back(retry.Notice());
            }
        }
        ASSERT_EQ(notices.size(), c.notices.size());
        for (size_t i = 0; i < notices.size(); ++i) {
            const std::string server = c.notices[i] == "peer" ? peerName : c.notices[i];
            EXPECT_NE(notices[i].find("reconnecting to " + server), std::string::npos) << notices[i];
        }
        EXPECT_EQ(gaveUp, c.gaveUp);
        if (gaveUp) {
            EXPECT_TRUE(downloader.IsError());
            continue;
        }
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); }, 30000));
        EXPECT_FALSE(downloader.IsError());
        std::string got, expected;
        ASSERT_TRUE(ReadWholeFile(dir / "Velgrim_patch.rxpack", &got));
        ASSERT_TRUE(ReadWholeFile(servers.Path("main/Velgrim_patch.rxpack"), &expected));
        EXPECT_TRUE(got == expected) << "the file differs";
    }
}

namespace {

// One scripted update server of a fleet, polled from the test's loop: it accepts each
// connection, answers the version question with the release (game 7, updater 0), reads
// the request and plays its act for that connection (the last act repeats).
class FLEET_SERVER {
public:
    enum ACT { CUT, REFUSE, SILENT, SERVE };

    FLEET_SERVER(char name, std::vector<ACT> acts) : m_cName(name), m_Acts(std::move(acts))
    {
        m_Listener.Reset(ListenLoopback(&m_iPort));
    }
    unsigned short Port() const { return m_iPort; }

    void Poll(const std::string& file, std::string* log)
    {
        if (SocketWaitReadable(m_Listener.Get(), 0) == 1) {
            m_Peer.Reset(accept(m_Listener.Get(), nullptr, nullptr));
            *log += m_cName;
            m_strGot.clear();
            m_bAnswered = false;
            SendAll(m_Peer.Get(), Frame(2, "") + Frame(MSG_GET_INFO, Dword(0) + Dword(7) +
                                                                         Counted(std::string(1, '\0')) + Dword(0)));
        }
        while (!m_bAnswered && m_Peer.Get() != INVALID_SOCKET && SocketWaitReadable(m_Peer.Get(), 0) == 1) {
            char buffer[64];
            const int got = static_cast<int>(recv(m_Peer.Get(), buffer, sizeof(buffer), 0));
            if (got <= 0) {
                m_Peer.Reset();
                return;
            }
            m_strGot.append(buffer, static_cast<size_t>(got));
            // The version question (8 bytes), then the request (20).
            if (m_strGot.size() >= 28)
                Act(file);
        }
    }

private:
    void Act(const std::string& file)
    {
        m_bAnswered = true;
        const ACT act = m_Acts[std::min(m_iConnection++, m_Acts.size() - 1)];
        const std::string begin = BeginFrame("Velgrim_patch.rxpack" + std::string(1, '\0'),
                                             static_cast<uint32_t>(file.size()));
        if (act == CUT) {
            SendAll(m_Peer.Get(), begin + DataFrame(file.substr(0, 3)));
            m_Peer.Reset();
        } else if (act == REFUSE) {
            SendAll(m_Peer.Get(), Frame(MSG_FILE_FAILED, ""));
        } else if (act == SILENT) {
            SendAll(m_Peer.Get(), begin);
        } else {
            SendAll(m_Peer.Get(), begin + DataFrame(file) + EndFrame());
        }
    }

    char m_cName;
    std::vector<ACT> m_Acts;
    size_t m_iConnection = 0;
    SOCKET_HOLDER m_Listener;
    SOCKET_HOLDER m_Peer;
    unsigned short m_iPort = 0;
    std::string m_strGot;
    bool m_bAnswered = false;
};

} // namespace

// Where each reconnect goes: a lost connection to the same server once, then the next; a
// server that refused the file or stalled is left at once; and a fleet that never makes
// progress holds the window no longer than its bound, however many reconnects are left.
TEST(TransferRetry, TheNextServerAfterOneReconnectOrAtOnceAndTheWindowBounded)
{
    using A = FLEET_SERVER;
    struct CASE {
        const char* what;
        std::vector<A::ACT> first, second; // servers A and B, per connection
        const char* log;                   // the servers connected to, in order ("": any)
        bool gaveUp;
    };
    const CASE cases[] = {
        {"lost, lost again: the next", {A::CUT}, {A::SERVE}, "AAB", false},
        {"lost once: the same one goes on", {A::CUT, A::SERVE}, {A::SERVE}, "AA", false},
        {"refused: the next at once", {A::REFUSE}, {A::SERVE}, "AB", false},
        {"stalled: the next at once", {A::SILENT}, {A::SERVE}, "AB", false},
        {"silent everywhere: the window's bound", {A::SILENT}, {A::SILENT}, "", true},
    };
    const unsigned int stallMs = 300, windowMs = 1000;
    const std::string file(100, 'v');
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        FLEET_SERVER a('A', c.first), b('B', c.second);
        const std::vector<SERVER_ENDPOINT> list = {{"127.0.0.1", a.Port()}, {"127.0.0.1", b.Port()}};
        std::string log;
        DOWNLOADER downloader;
        downloader.m_uStallTimeoutMs = stallMs;
        TRANSFER_RETRY retry;
        retry.m_uWindowStallMs = windowMs;
        retry.Prepare(list, 0, FILE_KIND_PATCH, 7, 0);
        SERVER_DIAL dial;
        dial.Start(&downloader, list[0], MonotonicMs() + 5000);
        SERVER_DIAL::RESULT dialled;
        while ((dialled = dial.Step(5)) == SERVER_DIAL::DIALING)
            a.Poll(file, &log);
        ASSERT_EQ(dialled, SERVER_DIAL::ANSWERED);
        ASSERT_TRUE(downloader.GetFile(FILE_KIND_PATCH, dir.Path().c_str()));

        // The window's tick, as the update session drives it.
        const uint64_t start = MonotonicMs();
        bool done = false, gaveUp = false;
        while (!done && !gaveUp && MonotonicMs() - start < 20000) {
            a.Poll(file, &log);
            b.Poll(file, &log);
            if (retry.Active()) {
                gaveUp = retry.Step(5) == TRANSFER_RETRY::GIVEN_UP;
                continue;
            }
            downloader.Process();
            if (!retry.Observe(downloader)) {
                retry.GiveUpStalled(&downloader);
                gaveUp = true;
            } else if (downloader.IsCompleteOrError()) {
                done = !downloader.IsError();
                gaveUp = !done && !retry.Begin(&downloader);
            } else {
                SleepMs(1);
            }
        }
        const uint64_t took = MonotonicMs() - start;
        EXPECT_EQ(gaveUp, c.gaveUp);
        EXPECT_EQ(done, !c.gaveUp);
        if (c.log[0] != '\0') {
            EXPECT_EQ(log, c.log);
        }
        if (c.gaveUp) {
            EXPECT_TRUE(downloader.IsError());
            EXPECT_GE(took, windowMs - 50);
            EXPECT_LT(took, windowMs + 2 * stallMs) << "the window was held past its bound";
        } else {
            std::string got;
            EXPECT_TRUE(ReadWholeFile(dir / "Velgrim_patch.rxpack", &got));
            EXPECT_EQ(got, file);
        }
    }
}
