// Reconnects after a broken transfer, against a scripted server that breaks it and the
// real update-server (see tests/support/update_server_fixture.sh).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/transfer_retry.h"
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
