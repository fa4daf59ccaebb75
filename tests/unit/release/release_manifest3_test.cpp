#include <gtest/gtest.h>

#include <string>

#include "protocol/update_protocol.h"
#include "release/release_manifest.h"

namespace {

const std::string kA(64, 'a');
const std::string kSig = "signature " + std::string(128, 'c') + "\n";
const std::string kHead = "velgrim-release 3\ngame_version 3\nupdater_version 0\n";
const std::string kCumulative = "package cumulative plain 197 " + kA + "\n";

std::string Package(const std::string& what, const std::string& variant, const std::string& size = "242")
{
    return "package " + what + " " + variant + " " + size + " " + kA + "\n";
}

bool Parse(const std::string& text, RELEASE_MANIFEST* manifest, std::string* error)
{
    return ParseReleaseManifest(text.data(), text.size(), manifest, error);
}

} // namespace

TEST(ReleaseManifest3, ReadsVariantsAndMirrorsAndWritesTheSameBytesBack)
{
    const std::string every = kHead + kCumulative + Package("full", "plain", "5368709120") + Package("full", "zstd") +
                              Package("from 1", "plain") + Package("from 1", "zstd", "100") +
                              Package("from 1", "delta", "12") + Package("from 2", "plain") +
                              Package("from 2", "delta", "7") + "mirror https://cdn.example.com/velgrim/\n" +
                              "mirror http://127.0.0.1:8080\nexpires 2027-01-07T00:00:00Z\n" + kSig;
    // A plain directory signed with mirrors: the cumulative package alone.
    const std::string bare = kHead + kCumulative + "mirror http://a/\n" + kSig;
    const struct {
        const char* what;
        std::string text;
        size_t packages;
        size_t mirrors;
    } cases[] = {
        {"every variant, two mirrors, expiry", every, 8, 2},
        {"the cumulative package alone", bare, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RELEASE_MANIFEST m;
        std::string error;
        ASSERT_TRUE(Parse(c.text, &m, &error)) << error;
        EXPECT_EQ(m.format, 3u);
        EXPECT_EQ(m.packages.size(), c.packages);
        EXPECT_EQ(m.mirrors.size(), c.mirrors);
        EXPECT_EQ(m.FileOfKind(FILE_KIND_PATCH)->size, 197u);
        EXPECT_EQ(FormatManifestBody(m) + FormatSignatureLine(m.signature), c.text);
    }
    RELEASE_MANIFEST m;
    std::string error;
    ASSERT_TRUE(Parse(every, &m, &error));
    const uint32_t zd = PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA;
    ASSERT_NE(m.PackageOf(1, zd), nullptr);
    EXPECT_EQ(m.PackageOf(1, zd)->size, 12u);
    EXPECT_EQ(m.PackageOf(1, PACKAGE_FEATURE_ZSTD)->size, 100u);
    EXPECT_EQ(m.PackageOf(2, PACKAGE_FEATURE_ZSTD), nullptr);
    EXPECT_EQ(m.PackageOfBase(1)->size, 242u) << "the plain one";
    EXPECT_EQ(m.mirrors[1], "http://127.0.0.1:8080");

    // Format 2 written from the same manifest names the plain packages only.
    m.format = 2;
    const std::string two = FormatManifestBody(m);
    EXPECT_EQ(two.find("zstd"), std::string::npos);
    EXPECT_EQ(two.find("mirror"), std::string::npos);
    EXPECT_NE(two.find("package from 2 242 "), std::string::npos);
}

TEST(ReleaseManifest3, RejectsEachMalformedLine)
{
    const std::string full = Package("full", "plain");
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {kHead + "package cumulative 197 " + kA + "\n" + kSig, "line 4: expected 'package cumulative plain SIZE"},
        {kHead + Package("cumulative", "zstd") + kSig, "line 4: the cumulative package is plain only"},
        {kHead + kCumulative + Package("full", "gzip") + kSig, "line 5: a package variant is 'plain', 'zstd' or"},
        {kHead + kCumulative + Package("full", "zstd") + kSig, "line 5: package full zstd without its plain package"},
        {kHead + kCumulative + Package("from 1", "plain") + full + kSig,
         "line 6: package full plain after package from 1 plain"},
        {kHead + kCumulative + Package("from 1", "plain") + Package("from 1", "delta") + Package("from 1", "zstd") +
             kSig,
         "line 7: package from 1 zstd after package from 1 delta"},
        {kHead + kCumulative + Package("from 1", "plain") + Package("from 2", "zstd") + kSig,
         "line 6: package from 2 zstd without its plain package"},
        {kHead + kCumulative + Package("from 3", "plain") + kSig, "a package from version 3 to game_version 3"},
        {kHead + kCumulative + kCumulative + kSig, "line 5: a second cumulative package"},
        {kHead + kCumulative + "mirror ftp://cdn/\n" + kSig, "line 5: mirror 'ftp://cdn/': not an http:// or https://"},
        {kHead + kCumulative + "mirror https:///x\n" + kSig, "needs a host"},
        {kHead + kCumulative + "mirror http://cdn/?a=1\n" + kSig, "needs a host, and no query"},
        {kHead + kCumulative + "mirror https://user:pw@cdn/\n" + kSig, "no user part"},
        {kHead + kCumulative + "mirror http://cdn/" + std::string(600, 'x') + "\n" + kSig, "longer than 512 bytes"},
        {kHead + kCumulative + "mirror http://a/ http://b/\n" + kSig, "line 5: expected 'mirror URL'"},
        {kHead + kCumulative + "mirror http://a/\n" + full + kSig, "line 6: expected 'expires ... or signature"},
        {kHead + kCumulative + [] {
             std::string m;
             for (int i = 0; i <= 16; ++i)
                 m += "mirror http://m" + std::to_string(i) + "/\n";
             return m;
         }() + kSig,
         "line 21: more than 16 mirrors"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 300));
        RELEASE_MANIFEST m;
        std::string error;
        EXPECT_FALSE(Parse(c.text, &m, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}
