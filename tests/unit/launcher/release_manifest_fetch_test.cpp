// The launcher's side of the signed manifest: fetched over its bounded HTTP client and
// held to the update server's answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/release_manifest_fetch.h"
#include "release/hex_text.h"
#include "support/http_script_server.h"
#include "support/nginx_fixture.h"
#include "support/signing_vectors.h"
#include "support/trace_capture.h"

using signing_vectors::SignedManifest;

TEST(ReleaseManifestFetch, OnlyAWholeSignedCurrentManifestServedWithOkIsTaken)
{
    uint8_t key[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    const int64_t before = signing_vectors::kManifestExpires - 1;
    std::string altered = SignedManifest();
    altered[altered.find("game_version 7") + 13] = '8';

    struct CASE {
        const char* what;
        std::vector<HTTP_SCRIPT_SERVER::STEP> script;
        int64_t now;
        const char* reason; // null: taken
    };
    const std::vector<CASE> cases = {
        {"served whole", {{0, HttpResponse(SignedManifest())}}, before, nullptr},
        {"missing", {{0, HttpResponse("<html>404 Not Found</html>", "404 Not Found")}}, before, "missing (HTTP 404)"},
        {"an error page", {{0, HttpResponse(SignedManifest(), "500 Internal Server Error")}}, before,
         "not served (HTTP status 500)"},
        {"no status line", {{0, "velgrim-release 1\r\n\r\n" + SignedManifest()}}, before, "not an HTTP answer"},
        {"closed at once", {}, before, "no answer from 127.0.0.1:"},
        {"cut short", {{0, HttpResponse(SignedManifest()).substr(0, 120)}}, before, "cut short ("},
        {"too large", {{0, HttpResponse(SignedManifest() + std::string(1024, '\n'))}}, before,
         "malformed: longer than 1024 bytes"},
        // The check's own refusals are passed on as they are.
        {"one byte altered", {{0, HttpResponse(altered)}}, before, "bad signature"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        HTTP_SCRIPT_SERVER server(c.script);
        RELEASE_MANIFEST manifest;
        std::string reason;
        const bool taken = FetchReleaseManifest("127.0.0.1", server.Port(), "/velgrim_release.txt", key, c.now,
                                                &manifest, &reason);
        server.Join();
        EXPECT_EQ(server.Request(), std::string("GET /velgrim_release.txt HTTP/1.1\r\nHost: 127.0.0.1 \r\n\r\n") +
                                        std::string(1, '\0'));
        if (c.reason == nullptr) {
            EXPECT_TRUE(taken) << reason;
            EXPECT_EQ(manifest.gameVersion, 7u);
            EXPECT_EQ(manifest.updaterVersion, 1100u);
        } else {
            EXPECT_FALSE(taken);
            EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
            EXPECT_EQ(manifest.gameVersion, 0u) << "a refused manifest leaves nothing behind";
        }
    }
}

TEST(ReleaseManifestFetch, TheServerMustAnswerWithTheManifestsVersions)
{
    RELEASE_MANIFEST manifest;
    manifest.gameVersion = 7;
    manifest.updaterVersion = 1100;
    struct CASE {
        uint32_t game;
        uint32_t updater;
        bool matches;
    };
    // A lower game version is a signed downgrade only when the manifest says so.
    const CASE cases[] = {{7, 1100, true}, {8, 1100, false}, {6, 1100, false}, {7, 0, false}, {7, 1101, false},
                          {0, 0xFFFFFFFFu, false}};
    for (const CASE& c : cases) {
        std::string reason;
        EXPECT_EQ(ServerMatchesManifest(manifest, c.game, c.updater, &reason), c.matches) << c.game << "/" << c.updater;
        EXPECT_EQ(reason.empty(), c.matches);
    }
    std::string reason;
    ServerMatchesManifest(manifest, 8, 0, &reason);
    EXPECT_EQ(reason, "the update server offers game 8, updater 0; the manifest game 7, updater 1100");
}

// Format 2 first, format 1 when it cannot be had or taken, from the nginx web host (which
// publishes a signed format-1 manifest as velgrim_release.txt and no format 2).
TEST(ReleaseManifestFetch, FormatTwoFirstThenFormatOne)
{
    const int port = NginxFixturePort();
    if (port == 0)
        GTEST_SKIP() << "no nginx web host in this run";
    uint8_t key[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    struct CASE {
        const char* what;
        const char* path3;
        const char* path2;
        const char* path1;
        bool fellBack;
        const char* reason; // null: taken
    };
    const CASE cases[] = {
        {"the first path serves a manifest", "/velgrim_release.txt", "/missing.txt", "/missing.txt", false, nullptr},
        {"the second serves it", "/missing3.txt", "/velgrim_release.txt", "/missing.txt", false, nullptr},
        {"the first two are missing", "/missing3.txt", "/velgrim_release2.txt", "/velgrim_release.txt", true, nullptr},
        {"the second is not a manifest", "/missing3.txt", "/velgrim_load_servers.php", "/velgrim_release.txt", true,
         nullptr},
        {"all missing: the last one's reason", "/missing3.txt", "/velgrim_release2.txt", "/missing.txt", true,
         "missing (HTTP 404)"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        TRACE_CAPTURE trace;
        RELEASE_MANIFEST manifest;
        std::string reason;
        const bool taken = FetchNewestReleaseManifest("127.0.0.1", port, c.path3, c.path2, c.path1, key,
                                                      signing_vectors::kManifestExpires - 1, &manifest, &reason);
        EXPECT_EQ(taken, c.reason == nullptr) << reason;
        if (c.reason != nullptr) {
            EXPECT_EQ(reason, c.reason);
            EXPECT_EQ(manifest.gameVersion, 0u);
        } else {
            EXPECT_EQ(manifest.gameVersion, 7u);
        }
        bool traced = false;
        for (const std::string& line : trace.LogLines())
            traced = traced || line.find(std::string("trying ") + c.path1) != std::string::npos;
        EXPECT_EQ(traced, c.fellBack);
    }
}
