// The console's unpacking bar (Linux front end).
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "pack/pack_unpacker.h"
#include "ui/console/unpack_meter.h"

// One bar over the bytes of every entry: a small file's 100% is not the patch's, and a
// big one counts for what it weighs.
TEST(UnpackMeter, CountsTheBytesOfTheWholePatchAndNamesTheFile)
{
    struct STEP {
        int event;
        int value;
        const char* path;
        int percent;
        const char* name;
    };
    const STEP steps[] = {
        {UNPACK_EVENT_BEGIN, 0, "Velgrim_patch.rxpack", 0, ""},
        {UNPACK_EVENT_FILE_BEGIN, 100, "game/.velgrim-update/files/readme.txt", 0, "readme.txt"},
        {UNPACK_EVENT_FILE_PROGRESS, 100, "game/.velgrim-update/files/readme.txt", 5, "readme.txt"},
        {UNPACK_EVENT_FILE_END, 0, "game/.velgrim-update/files/readme.txt", 5, "readme.txt"},
        {UNPACK_EVENT_FILE_BEGIN, 900, ".velgrim-update/files/data/maps/coast.map", 5, "data/maps/coast.map"},
        {UNPACK_EVENT_FILE_PROGRESS, 50, ".velgrim-update/files/data/maps/coast.map", 27, "data/maps/coast.map"},
        {UNPACK_EVENT_FILE_PROGRESS, 100, ".velgrim-update/files/data/maps/coast.map", 50, "data/maps/coast.map"},
        {UNPACK_EVENT_FILE_END, 0, ".velgrim-update/files/data/maps/coast.map", 50, "data/maps/coast.map"},
        {UNPACK_EVENT_FILE_BEGIN, 1000, "elsewhere/big.pak", 50, "elsewhere/big.pak"},
        {UNPACK_EVENT_FILE_END, 0, "elsewhere/big.pak", 100, "elsewhere/big.pak"},
    };
    // The index says 2000 bytes: 100, 900 and 1000.
    UNPACK_METER meter(2000);
    int i = 0;
    for (const STEP& s : steps) {
        SCOPED_TRACE(i++);
        meter.OnEvent(s.event, s.value, s.path);
        EXPECT_EQ(meter.Percent(), s.percent);
        EXPECT_EQ(meter.Name(), s.name);
    }
}

TEST(UnpackMeter, AnEntryOver2GiBCountsAsItsSizeAndAnUnknownTotalStaysAt0)
{
    const uint32_t big = 3u << 30;
    UNPACK_METER meter(uint64_t{big} * 2);
    meter.OnEvent(UNPACK_EVENT_FILE_BEGIN, static_cast<int>(big), "a");
    meter.OnEvent(UNPACK_EVENT_FILE_END, 0, "a");
    EXPECT_EQ(meter.Percent(), 50);

    UNPACK_METER unknown(0);
    unknown.OnEvent(UNPACK_EVENT_FILE_BEGIN, 10, "a");
    unknown.OnEvent(UNPACK_EVENT_FILE_END, 0, "a");
    EXPECT_EQ(unknown.Percent(), 0);
}
#endif
