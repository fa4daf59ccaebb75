#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../pack/pack_test_util.h"
#include "pack/pack_writer.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "protocol/update_protocol.h"
#include "update_server/release.h"
#include "update_server/release_conf.h"

TEST(ReleaseConf, ReadsKeysCommentsAndBlankLines)
{
    RELEASE_CONF conf;
    std::string error;
    ASSERT_TRUE(ParseReleaseConf("# release 12\r\n\n  game_version =12\t\nupdater_version= 4294967295\ninfo_word = 0",
                                 &conf, &error))
        << error;
    EXPECT_EQ(conf.game_version, 12u);
    EXPECT_EQ(conf.updater_version, 4294967295u);
    EXPECT_EQ(conf.info_word, 0u);

    ASSERT_TRUE(ParseReleaseConf("game_version = 0\n", &conf, &error)) << error;
    EXPECT_EQ(conf.updater_version, 0u) << "defaults";
}

TEST(ReleaseConf, ReadsAsItsHelpSays)
{
    struct CASE {
        const char* text;
        uint32_t game;
        uint32_t updater;
    };
    const CASE cases[] = {
        {"\xEF\xBB\xBFgame_version = 3\r\n", 3, 0},                       // a byte-order mark
        {"game_version = 4 # the spring patch\nupdater_version=1100#x\n", 4, 1100}, // inline comments
        {"game_version = 5\n  # updater_version = 9\n", 5, 0},               // an indented comment
        {"game_version = 6\t#\n#\xEF\xBB\xBF\n", 6, 0},                        // a mark inside a comment
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        RELEASE_CONF conf;
        std::string error;
        ASSERT_TRUE(ParseReleaseConf(c.text, &conf, &error)) << error;
        EXPECT_EQ(conf.game_version, c.game);
        EXPECT_EQ(conf.updater_version, c.updater);
    }
}

TEST(ReleaseConf, RejectsWhatItDoesNotUnderstand)
{
    struct CASE {
        const char* text;
        const char* error;
    };
    const CASE cases[] = {
        {"", "game_version is missing"},
        {"updater_version = 1024\n", "game_version is missing"},
        {"game_version = 1\nlanguage = ru\n", "line 2: unknown key 'language'"},
        {"game_version 1\n", "line 1: expected 'key = value'"},
        {"game_version = 1\ngame_version = 2\n", "line 2: 'game_version' is given twice"},
        {"game_version = -1\n", "'game_version' needs an unsigned 32-bit decimal number, found '-1'"},
        {"game_version = 4294967296\n", "found '4294967296'"},
        {"game_version = 0x10\n", "found '0x10'"},
        {"game_version = 1 2\n", "found '1 2'"},
        {"game_version =\n", "found ''"},
        {"game_version = +5\n", "found '+5'"},
        // Only the first mark of the file is one; anywhere else it is shown.
        {"game_version = 1\n\xEF\xBB\xBFinfo_word = 2\n", "line 2: unknown key '\\xef\\xbb\\xbfinfo_word'"},
        {"# x\n\ngame_versoin = 1\n", "line 3: unknown key 'game_versoin'"},
        {"game_version = 1 # two\ngame_version = 2 # again\n", "line 2: 'game_version' is given twice"},
        {"game_version = 1\x01\n", "found '1\\x01'"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        RELEASE_CONF conf;
        std::string error;
        EXPECT_FALSE(ParseReleaseConf(c.text, &conf, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

namespace {

void WriteRelease(const TEMP_DIR& dir, const std::string& conf)
{
    ASSERT_TRUE(WriteWholeFile(dir / "release.conf", conf));
    ASSERT_TRUE(WriteWholeFile(dir / "Velgrim_patch.rxpack", BarePackage("PATCH")));
}

} // namespace

TEST(Release, LoadsTheFilesOnce)
{
    TEMP_DIR dir;
    WriteRelease(dir, "game_version = 7\nupdater_version = 1024\ninfo_word = 3\n");
    ASSERT_TRUE(WriteWholeFile(dir / "UpdaterNew.exe", "MZ updater"));
    ASSERT_TRUE(WriteWholeFile(dir / "info.txt", "news\r\n"));
    std::string error;
    std::shared_ptr<const RELEASE> release = LoadRelease(dir.Path(), &error);
    ASSERT_NE(release, nullptr) << error;
    EXPECT_EQ(release->game_version, 7u);
    EXPECT_EQ(release->updater_version, 1024u);
    EXPECT_EQ(release->info_word, 3u);
    EXPECT_EQ(release->info_text, "news\r\n");
    ASSERT_NE(release->FileOfKind(1002), nullptr);
    EXPECT_EQ(release->FileOfKind(1002)->name, "Velgrim_patch.rxpack");
    EXPECT_EQ(release->patch->size, BarePackage("PATCH").size());
    EXPECT_EQ(release->patch->tag, ResumeTagOfDigest(ManifestFileOf(BarePackage("PATCH")).sha256));
    ASSERT_NE(release->FileOfKind(1003), nullptr);
    EXPECT_EQ(release->FileOfKind(1003)->name, "UpdaterNew.exe");
    EXPECT_EQ(release->updater->size, 10u);
    EXPECT_EQ(release->FileOfKind(1004), nullptr);

    // Below 1024 no updater is offered, even with the file there. (A loaded release keeps
    // its files open; Windows lets nobody write them meanwhile.)
    release.reset();
    WriteRelease(dir, "game_version = 7\nupdater_version = 1023\n");
    release = LoadRelease(dir.Path(), &error);
    ASSERT_NE(release, nullptr) << error;
    EXPECT_EQ(release->FileOfKind(1003), nullptr);
}

TEST(Release, BadDirectoriesAreRefusedWithTheReason)
{
    struct CASE {
        const char* what;
        const char* conf; // null: no release.conf
        bool patch;
        std::string info; // empty: no info.txt
        const char* error;
    };
    const CASE cases[] = {
        {"no release.conf", nullptr, true, "", "release.conf: missing"},
        {"bad release.conf", "game_version = x\n", true, "", "release.conf: line 1:"},
        {"no patch", "game_version = 1\n", false, "", "Velgrim_patch.rxpack: missing"},
        {"updater offered, none there", "game_version = 1\nupdater_version = 2000\n", true, "",
         "UpdaterNew.exe: missing (updater_version 2000 offers an updater)"},
        {"NUL in info.txt", "game_version = 1\n", true, std::string("a\0b", 3), "info.txt: contains a NUL byte"},
        {"info.txt too large", "game_version = 1\n", true, std::string(64 * 1024 + 1, 'x'), "info.txt: too large"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        if (c.conf != nullptr) {
            ASSERT_TRUE(WriteWholeFile(dir / "release.conf", c.conf));
        }
        if (c.patch) {
            ASSERT_TRUE(WriteWholeFile(dir / "Velgrim_patch.rxpack", BarePackage()));
        }
        if (!c.info.empty()) {
            ASSERT_TRUE(WriteWholeFile(dir / "info.txt", c.info));
        }
        std::string error;
        EXPECT_EQ(LoadRelease(dir.Path(), &error), nullptr);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(LoadRelease("/no/such/release/dir", &error), nullptr);
    EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
}

// What the launcher would throw away is never served: a release whose patch fails the
// package check is refused (at start and on reload) with the reason.
TEST(Release, APatchThatIsNoSoundPackageIsRefused)
{
    TEMP_DIR content;
    ASSERT_TRUE(WriteWholeFile(content / "Velgrim.exe", std::string(4000, 'g')));
    PACK_WRITER writer;
    std::string error;
    ASSERT_TRUE(writer.AddTree(content.Path(), "", &error)) << error;
    ASSERT_TRUE(writer.Write(content / "sound.rxpack", &error)) << error;
    std::string sound;
    ASSERT_TRUE(ReadWholeFile(content / "sound.rxpack", &sound));
    std::string corrupted = sound;
    corrupted[corrupted.size() - 100] ^= 0x40;

    struct CASE {
        const char* what;
        std::string patch;
        const char* error; // null: served
    };
    const CASE cases[] = {
        {"a package rxpack made", sound, nullptr},
        {"a package another tool made", BarePackage("anything"), nullptr},
        {"not a package", "PATCH", "the header is short"},
        {"cut short", sound.substr(0, sound.size() - 10), "runs past the end of the file"},
        {"a content checksum that does not match", corrupted, "content checksum mismatch"},
        {"naming the launcher", pack_test::BuildPackage({{"Updater.exe", "x"}}), "entry 0 (\"Updater.exe\")"},
        {"naming the version", pack_test::BuildPackage({{"VERSION.TXT", "7"}}), "entry 0 (\"VERSION.TXT\")"},
        {"naming the lock", pack_test::BuildPackage({{"velgrim_update.lock", ""}}), "the launcher keeps"},
        {"naming the new updater", pack_test::BuildPackage({{"UpdaterNew.exe", "x"}}), "the launcher keeps"},
        {"below the staging area", pack_test::BuildPackage({{".velgrim-update/journal", "x"}}), "the launcher keeps"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TEMP_DIR dir;
        ASSERT_TRUE(WriteWholeFile(dir / "release.conf", "game_version = 7\n"));
        ASSERT_TRUE(WriteWholeFile(dir / "Velgrim_patch.rxpack", c.patch));
        const std::shared_ptr<const RELEASE> release = LoadRelease(dir.Path(), &error);
        if (c.error == nullptr) {
            EXPECT_NE(release, nullptr) << error;
        } else {
            EXPECT_EQ(release, nullptr);
            EXPECT_NE(error.find("Velgrim_patch.rxpack: not a sound package"), std::string::npos) << error;
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}
