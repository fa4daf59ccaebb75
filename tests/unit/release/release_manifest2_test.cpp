#include <gtest/gtest.h>

#include <string>

#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "release/release_manifest.h"

namespace {

const std::string kA(64, 'a');
const std::string kB(64, 'b');
const std::string kSig = "signature " + std::string(128, 'c') + "\n";
const std::string kHead = "velgrim-release 2\ngame_version 3\nupdater_version 0\n";
const std::string kCumulative = "package cumulative 197 " + kA + "\n";
const std::string kFull = "package full 5368709120 " + kA + "\n";

std::string From(const std::string& version, const std::string& size = "242")
{
    return "package from " + version + " " + size + " " + kA + "\n";
}

bool Parse(const std::string& text, RELEASE_MANIFEST* manifest, std::string* error)
{
    return ParseReleaseManifest(text.data(), text.size(), manifest, error);
}

} // namespace

TEST(ReleaseManifest2, ReadsEveryPackageAndWritesTheSameBytesBack)
{
    const std::string full = "velgrim-release 2\ngame_version 3\nupdater_version 1100\nfile 1003 UpdaterNew.exe 10 " +
                             kB + "\n" + kCumulative + kFull + From("1") + From("2", "148") +
                             "expires 2027-01-07T00:00:00Z\n" + kSig;
    const std::string bare = kHead + kCumulative + kFull + kSig;
    // The most a manifest may name, at the longest spelling, stays within what a reader fetches.
    std::string most = "velgrim-release 2\ngame_version 4294967295\nupdater_version 4294967295\nfile 1003 "
                       "UpdaterNew.exe 4294967295 " + kB + "\npackage cumulative 4294967295 " + kA +
                       "\npackage full 18446744073709551615 " + kA + "\n";
    for (size_t i = 0; i < RELEASE_MANIFEST::kMaxFromPackages; ++i)
        most += From(std::to_string(4294967294u - RELEASE_MANIFEST::kMaxFromPackages + i), "18446744073709551615");
    most += "expires 2027-01-07T00:00:00Z\n" + kSig;
    ASSERT_LE(most.size(), RELEASE_MANIFEST::kMaxFormat2Size);

    const struct {
        const char* what;
        std::string text;
        size_t packages;
        uint64_t fullSize;
    } cases[] = {
        {"updater, two older versions, expiry", full, 4, 5368709120u},
        {"no updater, no older version", bare, 2, 5368709120u},
        {"the most it may name", most, 2 + RELEASE_MANIFEST::kMaxFromPackages, UINT64_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RELEASE_MANIFEST m;
        std::string error;
        ASSERT_TRUE(Parse(c.text, &m, &error)) << error;
        EXPECT_EQ(m.format, 2u);
        EXPECT_EQ(m.packages.size(), c.packages);
        ASSERT_NE(m.PackageOfBase(PACKAGE_BASE_FULL), nullptr);
        EXPECT_EQ(m.PackageOfBase(PACKAGE_BASE_FULL)->size, c.fullSize);
        // The cumulative package is also the patch launchers of format 1 know.
        ASSERT_NE(m.PackageOfBase(PACKAGE_BASE_CUMULATIVE), nullptr);
        EXPECT_EQ(m.FileOfKind(FILE_KIND_PATCH)->size, m.PackageOfBase(PACKAGE_BASE_CUMULATIVE)->size);
        EXPECT_EQ(m.signedSize, c.text.size() - kSig.size());
        EXPECT_EQ(FormatManifestBody(m) + FormatSignatureLine(m.signature), c.text);
    }
    RELEASE_MANIFEST m;
    std::string error;
    ASSERT_TRUE(Parse(full, &m, &error));
    ASSERT_NE(m.PackageOfBase(2), nullptr);
    EXPECT_EQ(m.PackageOfBase(2)->size, 148u);
    EXPECT_EQ(m.PackageOfBase(3), nullptr);
    EXPECT_EQ(m.FileOfKind(FILE_KIND_UPDATER)->size, 10u);
}

TEST(ReleaseManifest2, RejectsEachMalformedLine)
{
    std::string tooMany = kHead + kCumulative + kFull;
    for (size_t i = 0; i <= RELEASE_MANIFEST::kMaxFromPackages; ++i)
        tooMany += From(std::to_string(i));
    tooMany = "velgrim-release 2\ngame_version 9999\n" + tooMany.substr(kHead.size() - 18) + kSig;
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {kHead + kFull + kCumulative + kSig, "line 4: expected 'package cumulative SIZE SHA256'"},
        {kHead + "package cumulativ 197 " + kA + "\n" + kFull + kSig, "line 4: expected 'package cumulative"},
        {kHead + kCumulative + From("1") + kSig, "line 5: expected 'package full SIZE SHA256'"},
        {kHead + "package cumulative 4294967296 " + kA + "\n" + kFull + kSig,
         "line 4: the cumulative package travels in the plain answer"},
        {kHead + "package cumulative 0197 " + kA + "\n" + kFull + kSig, "line 4: the size needs an unsigned 64-bit"},
        {kHead + kCumulative + "package full 18446744073709551616 " + kA + "\n" + kSig, "line 5: the size needs"},
        {kHead + kCumulative + "package full 5 " + kA + " x\n" + kSig, "line 5: expected 'package full"},
        {kHead + kCumulative + kFull + From("2") + From("1") + kSig,
         "line 7: package from 1 after package from 2 (versions rise, once each)"},
        {kHead + kCumulative + kFull + From("1") + From("1") + kSig, "line 7: package from 1 after package from 1"},
        {kHead + kCumulative + kFull + From("3") + kSig, "line 6: a package from version 3 to game_version 3"},
        {kHead + kCumulative + kFull + From("01") + kSig, "line 6: the version needs"},
        {kHead + kCumulative + kFull + From("1", "-2") + kSig, "line 6: the size needs"},
        {kHead + kCumulative + kFull + "package from 1 242 " + std::string(64, 'A') + "\n" + kSig,
         "line 6: the SHA-256 needs"},
        {kHead + kCumulative + kFull + "package delta 1 242 " + kA + "\n" + kSig,
         "line 6: expected 'package from V SIZE SHA256'"},
        {kHead + kCumulative + kFull + kCumulative + kSig, "line 6: expected 'package from V"},
        {kHead + "file 1002 Velgrim_patch.rxpack 5 " + kA + "\n" + kCumulative + kFull + kSig,
         "line 4: a file line, but updater_version 0 offers no updater"},
        {"velgrim-release 2\ngame_version 3\nupdater_version 1100\n" + kCumulative + kFull + kSig,
         "line 4: expected 'file 1003 UpdaterNew.exe SIZE SHA256'"},
        {kHead + kCumulative + kFull + "expires 2027-01-07T00:00:00Z\n" + From("1") + kSig,
         "line 7: expected 'signature HEX'"},
        {kHead + kCumulative + kFull, "ends before the signature"},
        {kHead, "ends before the package lines"},
        {tooMany, "more than 500 packages from older versions"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 300));
        RELEASE_MANIFEST m;
        m.gameVersion = 99;
        std::string error;
        EXPECT_FALSE(Parse(c.text, &m, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(m.gameVersion, 99u) << "a rejected manifest leaves nothing behind";
    }
}
