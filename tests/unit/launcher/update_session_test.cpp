#include <gtest/gtest.h>

#include <string>

#include "launcher/program_globals.h"
#include "protocol/update_protocol.h"
#include "launcher/update_session.h"
#include "support/current_dir.h"
#include "support/temp_dir.h"

TEST(UpdateSession, ProgressIsTheWholePercentInSixtyFourBits)
{
    struct CASE {
        uint64_t received, total;
        int percent;
    };
    const CASE cases[] = {
        {3, 7, 42},
        {50000000, 100000000, 50},
        {0, 1, 0},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 100}, // received * 100 overflows 32 bits
        {0x7FFFFFFFu, 0xFFFFFFFFu, 49},
        {5, 0, -1},                      // no size announced yet: the bar is left alone
        {5ull << 30, 10ull << 30, 50},   // a package past 4 GiB
        {~0ull / 2, ~0ull, 49},          // received * 100 would overflow 64 bits
        {~0ull - 1, ~0ull, 99},          // a hundredth of the size as the unit would say 100
        {~0ull, ~0ull, 100},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(UpdateProgressPercent(c.received, c.total), c.percent) << c.received << " of " << c.total;
}

TEST(UpdateSession, OnlyAWholeTransferThatUnpacksCountsAsSuccess)
{
    TEMP_DIR dir;
    CURRENT_DIR cd(dir.Path());
    // Not a package: unpacking it fails.
    ASSERT_TRUE(WriteWholeFile(dir / PATCH_FILE_NAME, std::string(100, 'x')));
    const int mode = g_updateMode;

    struct CASE {
        const char* what;
        int mode;
        bool complete, error, succeeded;
    };
    const CASE cases[] = {
        {"failed transfer", UPDATE_MODE_PATCH, true, true, false},
        {"transfer that never ended", UPDATE_MODE_PATCH, false, false, false},
        {"package that does not unpack", UPDATE_MODE_PATCH, true, false, false},
        {"updater that arrived (nothing to unpack)", UPDATE_MODE_UPDATER, true, false, true},
    };
    for (const CASE& c : cases) {
        g_updateMode = c.mode;
        g_updateSucceeded = false;
        g_downloader.complete = c.complete;
        g_downloader.error = c.error;
        EXPECT_EQ(UpdateFinish(nullptr), c.succeeded) << c.what;
        EXPECT_EQ(g_updateSucceeded, c.succeeded) << c.what;
    }
    g_downloader.complete = false;
    g_downloader.error = false;
    g_updateMode = mode;
    g_updateSucceeded = false;
}
