#include <gtest/gtest.h>

#include <string>

#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "release/release_manifest.h"
#include "release/signed_manifest.h"
#include "release/utc_time.h"
#include "support/signing_vectors.h"

namespace {

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');
const std::string kSig = "signature " + std::string(128, 'c') + "\n";

std::string PatchOnly(const std::string& patchLine)
{
    return "velgrim-release 1\ngame_version 7\nupdater_version 0\n" + patchLine + kSig;
}

bool Parse(const std::string& text, RELEASE_MANIFEST* manifest, std::string* error)
{
    return ParseReleaseManifest(text.data(), text.size(), manifest, error);
}

} // namespace

TEST(ReleaseManifest, ReadsEveryFieldAndWritesTheSameBytesBack)
{
    const std::string text = signing_vectors::SignedManifest();
    RELEASE_MANIFEST manifest;
    std::string error;
    ASSERT_TRUE(Parse(text, &manifest, &error)) << error;
    EXPECT_EQ(manifest.gameVersion, 7u);
    EXPECT_EQ(manifest.updaterVersion, 1100u);
    ASSERT_NE(manifest.FileOfKind(FILE_KIND_PATCH), nullptr);
    EXPECT_EQ(manifest.FileOfKind(FILE_KIND_PATCH)->size, 5u);
    EXPECT_EQ(HexLower(manifest.patch.sha256, 32), "8dce33b49f31396a100fb4baf9f8a5dd5d27a4e29d3e244b8eb7b3ae3e619d2c");
    ASSERT_NE(manifest.FileOfKind(FILE_KIND_UPDATER), nullptr);
    EXPECT_EQ(manifest.FileOfKind(FILE_KIND_UPDATER)->size, 10u);
    EXPECT_EQ(manifest.FileOfKind(1004), nullptr);
    EXPECT_TRUE(manifest.hasExpiry);
    EXPECT_EQ(manifest.expires, signing_vectors::kManifestExpires);
    EXPECT_EQ(manifest.signedSize, std::string(signing_vectors::kManifestBody).size());
    EXPECT_EQ(FormatManifestBody(manifest) + FormatSignatureLine(manifest.signature), text);

    // Without an updater offer and without expiry.
    const std::string small = PatchOnly("file 1002 Velgrim_patch.rxpack 0 " + kHashA + "\n");
    ASSERT_TRUE(Parse(small, &manifest, &error)) << error;
    EXPECT_FALSE(manifest.hasUpdater);
    EXPECT_EQ(manifest.FileOfKind(FILE_KIND_UPDATER), nullptr);
    EXPECT_FALSE(manifest.hasExpiry);
    EXPECT_EQ(FormatManifestBody(manifest) + FormatSignatureLine(manifest.signature), small);
}

TEST(ReleaseManifest, RejectsAnythingButTheOneSpelling)
{
    const std::string head = "velgrim-release 1\ngame_version 7\n";
    const std::string patch = "file 1002 Velgrim_patch.rxpack 5 " + kHashA + "\n";
    const std::string updater = "file 1003 UpdaterNew.exe 10 " + kHashB + "\n";
    const std::string offer = head + "updater_version 1024\n" + patch + updater;
    const std::string good = head + "updater_version 0\n" + patch + kSig;
    struct CASE {
        std::string text;
        const char* error;
    };
    const CASE cases[] = {
        {"", "empty"},
        {good.substr(0, good.size() - 1), "does not end with a line feed"},
        {good + std::string(RELEASE_MANIFEST::kMaxFormat1Size, '\n'), "longer than 1024 bytes"},
        {good + std::string(RELEASE_MANIFEST::kMaxSize, '\n'), "longer than 120000 bytes"},
        {"velgrim-release 4\n" + good.substr(18), "line 1: manifest format '4' is not known"},
        {"\n" + good, "line 1: expected 'velgrim-release 1'"},
        {"velgrim-release  1\n" + good.substr(18), "line 1: expected"},
        {"velgrim-release 1\r\n" + good.substr(18), "line 1: manifest format '1?' is not known"},
        {"velgrim-release 1\nupdater_version 0\ngame_version 7\n" + patch + kSig, "line 2: expected 'game_version N'"},
        {head + head.substr(18) + "updater_version 0\n" + patch + kSig, "line 3: expected 'updater_version N'"},
        {head + patch + kSig, "line 3: expected 'updater_version N'"},
        {"velgrim-release 1\ngame_version 07\nupdater_version 0\n" + patch + kSig, "line 2: game_version needs"},
        {"velgrim-release 1\ngame_version +7\nupdater_version 0\n" + patch + kSig, "line 2: game_version needs"},
        {"velgrim-release 1\ngame_version 0x7\nupdater_version 0\n" + patch + kSig, "line 2: game_version needs"},
        {"velgrim-release 1\ngame_version 4294967296\nupdater_version 0\n" + patch + kSig, "line 2:"},
        {"velgrim-release 1\ngame_version \nupdater_version 0\n" + patch + kSig, "line 2:"},
        {head + "updater_version 0 \n" + patch + kSig, "line 3: expected 'updater_version N'"},
        {head + "updater_version 0\n" + kSig, "line 4: expected 'file 1002 Velgrim_patch.rxpack SIZE SHA256'"},
        {head + "updater_version 0\n", "ends before the file lines"},
        {PatchOnly("file 1003 UpdaterNew.exe 10 " + kHashB + "\n"), "line 4: expected the file of kind 1002"},
        {PatchOnly("file 1002 velgrim_patch.rxpack 5 " + kHashA + "\n"), "is named Velgrim_patch.rxpack, not 'velg"},
        {PatchOnly("file 1002 ../Velgrim_patch.rxpack 5 " + kHashA + "\n"), "line 4: the file of kind 1002 is named"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack -5 " + kHashA + "\n"), "line 4: the size needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 05 " + kHashA + "\n"), "line 4: the size needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 5 " + std::string(64, 'A') + "\n"), "line 4: the SHA-256 needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 5 " + kHashA.substr(1) + "\n"), "line 4: the SHA-256 needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 5 " + kHashA + "0\n"), "line 4: the SHA-256 needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 5 " + kHashA.substr(1) + "g\n"), "line 4: the SHA-256 needs"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack 5 " + kHashA + " x\n"), "line 4: expected 'file 1002"},
        {PatchOnly("file 1002 Velgrim_patch.rxpack\t5 " + kHashA + "\n"), "line 4: expected 'file 1002"},
        {PatchOnly(patch + patch), "line 5: a second file line, but updater_version 0 offers no updater"},
        {PatchOnly(patch + updater), "line 5: a second file line, but updater_version 0 offers no updater"},
        {offer.substr(0, offer.size() - updater.size()) + kSig, "line 5: expected 'file 1003 UpdaterNew.exe SIZE SHA"},
        {offer.substr(0, offer.size() - updater.size()) + patch + kSig, "line 5: expected the file of kind 1003"},
        {offer + updater + kSig, "line 6: expected 'expires ... or signature HEX'"},
        {head + "updater_version 1024\n" + patch + "file 1003 Updater.exe 10 " + kHashB + "\n" + kSig,
         "line 5: the file of kind 1003 is named UpdaterNew.exe, not 'Updater.exe'"},
        {PatchOnly(patch + "expires 2027-01-07 00:00:00Z\n"), "line 5: expected 'expires YYYY-MM-DDTHH:MM:SSZ'"},
        {PatchOnly(patch + "expires 2027-01-07T00:00:00\n"), "line 5: expected 'expires YYYY"},
        {PatchOnly(patch + "expires 2027-02-29T00:00:00Z\n"), "line 5: expected 'expires YYYY"},
        {PatchOnly(patch + "expires 2027-01-07T24:00:00Z\n"), "line 5: expected 'expires YYYY"},
        {PatchOnly(patch + "expires 2027-01-07T00:00:00+00:00\n"), "line 5: expected 'expires YYYY"},
        {PatchOnly(patch + "expires 1799280000\n"), "line 5: expected 'expires YYYY"},
        {PatchOnly(patch + "expires 2027-01-07T00:00:00Z\nexpires 2027-01-07T00:00:00Z\n"),
         "line 6: expected 'signature HEX'"},
        {PatchOnly(patch + "comment hello\n"), "line 5: expected 'expires ... or signature HEX'"},
        {PatchOnly(patch + "\n"), "line 5: expected 'expires ... or signature HEX'"},
        {head + "updater_version 0\n" + patch + "signature " + std::string(127, 'c') + "\n", "line 5: the signature"},
        {head + "updater_version 0\n" + patch + "signature " + std::string(128, 'C') + "\n", "line 5: the signature"},
        {head + "updater_version 0\n" + patch + "signature\n", "line 5: expected"},
        {head + "updater_version 0\n" + patch, "ends before the signature"},
        {good + kSig, "line 6: nothing may follow the signature, found 'signature'"},
        {good + "\n", "line 6: nothing may follow the signature"},
        {good + "game_version 8\n", "line 6: nothing may follow the signature, found 'game_version'"},
        {std::string("velgrim-release 1\0\n", 19) + good.substr(18), "line 1:"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        RELEASE_MANIFEST manifest;
        manifest.gameVersion = 99;
        std::string error;
        EXPECT_FALSE(Parse(c.text, &manifest, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(manifest.gameVersion, 99u) << "a rejected manifest leaves nothing behind";
    }
}

TEST(ReleaseManifest, IsAcceptedOnlySignedByTheKeyAndBeforeItsExpiry)
{
    uint8_t key[P256_PUBLIC_KEY_SIZE];
    uint8_t otherKey[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    ASSERT_TRUE(ParseHexLower(signing_vectors::kOtherPublicKey, otherKey, sizeof(otherKey)));
    const std::string text = signing_vectors::SignedManifest();
    const int64_t expires = signing_vectors::kManifestExpires;
    const std::string body = signing_vectors::kManifestBody;

    struct CASE {
        const char* what;
        std::string text;
        const uint8_t* key;
        int64_t now;
        const char* reason; // null: accepted
    };
    std::string changedVersion = text;
    changedVersion[body.find("game_version 7") + 13] = '8';
    std::string changedHash = text;
    changedHash[body.find("8dce33b4")] = '9';
    std::string changedSignature = text;
    changedSignature[text.size() - 2] = changedSignature[text.size() - 2] == '0' ? '1' : '0';
    std::string laterExpiry = text;
    laterExpiry[body.find("2027-01-07")] = '3';
    const CASE cases[] = {
        {"signed, a second before expiry", text, key, expires - 1, nullptr},
        {"signed, long before", text, key, 0, nullptr},
        {"at the expiry second", text, key, expires, "expired on 2027-01-07T00:00:00Z"},
        {"after expiry", text, key, expires + 86400 * 365, "expired on 2027-01-07T00:00:00Z"},
        {"another studio's key", text, otherKey, 0, "bad signature"},
        {"game version changed", changedVersion, key, 0, "bad signature"},
        {"patch hash changed", changedHash, key, 0, "bad signature"},
        {"expiry pushed out", laterExpiry, key, expires + 1, "bad signature"},
        {"signature changed", changedSignature, key, 0, "bad signature"},
        {"signature line dropped", body, key, 0, "malformed: ends before the signature"},
        {"truncated", text.substr(0, 100), key, 0, "malformed: the last line does not end"},
        {"an extra line", text + "x\n", key, 0, "malformed: line 8: nothing may follow"},
        {"CR LF line ends", "velgrim-release 1\r\n", key, 0, "malformed: line 1:"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        RELEASE_MANIFEST manifest;
        std::string reason;
        const bool accepted = AcceptReleaseManifest(c.text.data(), c.text.size(), c.key, c.now, &manifest, &reason);
        if (c.reason == nullptr) {
            EXPECT_TRUE(accepted) << reason;
            EXPECT_EQ(manifest.gameVersion, 7u);
        } else {
            EXPECT_FALSE(accepted);
            EXPECT_EQ(reason.compare(0, std::string(c.reason).size(), c.reason), 0) << reason;
        }
    }
}

TEST(UtcTime, ExactFormOnlyAndBackAgain)
{
    struct CASE {
        const char* text;
        int64_t seconds; // -1: rejected
    };
    const CASE cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2027-01-07T00:00:00Z", 1799280000},
        {"2000-02-29T23:59:59Z", 951868799},
        {"2038-01-19T03:14:08Z", 2147483648},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2100-02-29T00:00:00Z", -1},
        {"2027-13-01T00:00:00Z", -1},
        {"2027-00-10T00:00:00Z", -1},
        {"2027-04-31T00:00:00Z", -1},
        {"2027-01-07T00:60:00Z", -1},
        {"2027-01-07T00:00:60Z", -1},
        {"2027-01-07t00:00:00Z", -1},
        {"2027-01-07T00:00:00z", -1},
        {"2027-1-07T00:00:00Z", -1},
        {"+027-01-07T00:00:00Z", -1},
        {"2027-01-07T00:00:00.0Z", -1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t seconds = -1;
        EXPECT_EQ(ParseUtcTime(c.text, &seconds), c.seconds >= 0);
        if (c.seconds >= 0) {
            EXPECT_EQ(seconds, c.seconds);
            EXPECT_EQ(FormatUtcTime(seconds), c.text);
        }
    }
    EXPECT_EQ(FormatUtcTime(253402300800), "") << "past year 9999";
}
