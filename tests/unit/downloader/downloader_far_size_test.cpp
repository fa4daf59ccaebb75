// Announced sizes past 2 GiB and at the 4 GiB edge, where a 32-bit signed size or a
// size + 1 would go wrong: the transfer is taken, counted and refused as the size says.
#include <gtest/gtest.h>

#include <string>

#include "downloader/downloader.h"
#include "launcher/update_session.h"
#include "support/downloader_peer.h"
#include "support/temp_dir.h"

TEST(DownloaderFarSize, AnnouncementsPast2GiBAndAtTheEdge)
{
    const std::string name = std::string("Velgrim_patch.rxpack") + '\0';
    const struct {
        uint32_t announced;
        bool taken;
    } cases[] = {
        {0x80000010u, true},                    // past 2 GiB
        {DOWNLOADER::kMaxFileSize, true},       // the largest a size + 1 buffer allows
        {0xFFFFFFFFu, false},                   // size + 1 wraps: refused
    };
    for (const auto& c : cases) {
        TEMP_DIR dir;
        const std::string target = dir / "target";
        DOWNLOADER downloader;
        DOWNLOADER_PEER peer;
        ASSERT_TRUE(peer.Request(downloader, FILE_KIND_PATCH, target));
        ASSERT_TRUE(peer.Send(BeginFrame(name, c.announced) + DataFrame("abcde")));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.GetReceivedSize() == 5 || downloader.IsError(); }))
            << c.announced;
        EXPECT_EQ(downloader.IsError(), !c.taken) << c.announced;
        if (!c.taken) {
            EXPECT_FALSE(FileExists(target + "/Velgrim_patch.rxpack.part")) << c.announced;
            continue;
        }
        EXPECT_EQ(downloader.GetTotalSize(), c.announced);
        EXPECT_EQ(UpdateProgressPercent(downloader.GetReceivedSize(), downloader.GetTotalSize()), 0);
        // Ended after 5 bytes of so many: a failure, and nothing is kept.
        ASSERT_TRUE(peer.Send(EndFrame()));
        ASSERT_TRUE(PumpUntil(downloader, [&] { return downloader.IsCompleteOrError(); })) << c.announced;
        EXPECT_TRUE(downloader.IsError()) << c.announced;
        EXPECT_FALSE(FileExists(target + "/Velgrim_patch.rxpack")) << c.announced;
        EXPECT_FALSE(FileExists(target + "/Velgrim_patch.rxpack.part")) << c.announced;
    }
}
