// The server list and the release manifest as real web hosts, proxies and CDNs answer
// them: header names in any case, chunked bodies, and heads that contradict themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/release_manifest_fetch.h"
#include "launcher/server_list.h"
#include "net/http_chunked_decoder.h"
#include "net/http_get.h"
#include "release/hex_text.h"
#include "support/http_script_server.h"
#include "support/nginx_fixture.h"
#include "support/signing_vectors.h"
#include "support/trace_capture.h"
#include "velgrim_config.h"

using signing_vectors::SignedManifest;

namespace {

// Two servers; the second (load 5) wins only when the list arrived whole.
const std::string kList = "2;127.0.0.7;7100;10;0;x;y;127.0.0.8;7200;5;0;x;y;";
const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunkedHead = kOk + "Server: nginx\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string Hex(size_t n)
{
    char text[20];
    std::snprintf(text, sizeof(text), "%zx", n);
    return text;
}

// body in chunks of piece bytes (with an extension), the last chunk and a trailer line.
std::string Chunked(const std::string& body, size_t piece, const std::string& extension = "")
{
    std::string out;
    for (size_t at = 0; at < body.size(); at += piece)
        out += Hex(std::min(piece, body.size() - at)) + extension + "\r\n" + body.substr(at, piece) + "\r\n";
    return out + "0\r\nX-Checksum: 1\r\n\r\n";
}

struct ANSWER {
    const char* what;
    std::function<std::string(const std::string& body)> response;
    const char* problem;   // the trace's reason when the exchange fails; null: it succeeds
    bool cutShort = false; // the host closes before the body's end: the list is used, the manifest is not
};

} // namespace

// Every response arrives in three pieces (cut inside head lines, chunk lines and data),
// and the host then keeps the connection, as a keep-alive host does, unless it cuts short.
TEST(WebHostAnswers, ListAndManifestAsWebHostsSendThem)
{
    auto length = [](const std::string& b) { return std::to_string(b.size()); };
    const std::vector<ANSWER> answers = {
        {"lower-case content-length", [&](auto& b) { return kOk + "content-length: " + length(b) + "\r\n\r\n" + b; },
         nullptr},
        {"mixed case, no blank, blanks after",
         [&](auto& b) { return kOk + "CoNtEnT-lEnGtH:" + length(b) + " \t\r\n\r\n" + b; }, nullptr},
        {"a prefixed name is another header",
         [&](auto& b) { return kOk + "X-Original-Content-Length: 3\r\nContent-Length: " + length(b) + "\r\n\r\n" + b; },
         nullptr},
        {"the same length twice",
         [&](auto& b) { return kOk + "Content-Length: " + length(b) + "\r\ncontent-length: " + length(b) + "\r\n\r\n" + b; },
         nullptr},
        {"an overflowing length", [&](auto& b) { return kOk + "Content-Length: 4294967296" + length(b) + "\r\n\r\n" + b; },
         "a Content-Length that is not a number of bytes"},
        {"a length with a sign", [&](auto& b) { return kOk + "Content-Length: +" + length(b) + "\r\n\r\n" + b; },
         "a Content-Length that is not a number of bytes"},
        {"two different lengths",
         [&](auto& b) { return kOk + "Content-Length: " + length(b) + "\r\nContent-Length: 1\r\n\r\n" + b; },
         "two different Content-Length values"},
        {"chunked: one chunk", [](auto& b) { return kChunkedHead + Chunked(b, b.size()); }, nullptr},
        {"chunked: many chunks with extensions", [](auto& b) { return kChunkedHead + Chunked(b, 7, ";v=\"1\""); },
         nullptr},
        {"chunked: a size that is not hexadecimal", [](auto& b) { return kChunkedHead + "zz\r\n" + b + "\r\n0\r\n\r\n"; },
         "a chunk size that is not hexadecimal"},
        {"chunked: a chunk longer than its size",
         [](auto& b) { return kChunkedHead + Hex(b.size() - 1) + "\r\n" + b + "\r\n0\r\n\r\n"; },
         "a chunk longer than its size"},
        {"chunked: a coding we cannot read",
         [](auto& b) { return kOk + "Transfer-Encoding: gzip, chunked\r\n\r\n" + Chunked(b, 9); },
         "a Transfer-Encoding other than chunked"},
        {"chunked: the host closes before the last chunk",
         [](auto& b) { return kChunkedHead + Hex(b.size()) + "\r\n" + b + "\r\n"; }, nullptr, true},
    };

    uint8_t key[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    auto script = [](const ANSWER& a, const std::string& body) {
        const std::string all = a.response(body);
        const size_t third = all.size() / 3;
        std::vector<HTTP_SCRIPT_SERVER::STEP> steps = {
            {0, all.substr(0, third)}, {20, all.substr(third, third)}, {20, all.substr(2 * third)}};
        if (!a.cutShort)
            steps.push_back({10000, "HTTP/1.1 400 Bad Request\r\n\r\n"});
        return steps;
    };
    for (const ANSWER& a : answers) {
        SCOPED_TRACE(a.what);
        const std::string failure = a.problem != nullptr ? std::string("error recv from:127.0.0.1: ") + a.problem : "";
        {
            TRACE_CAPTURE trace;
            HTTP_SCRIPT_SERVER server(script(a, kList));
            QueryServerList("127.0.0.1", server.Port());
            const bool whole = a.problem == nullptr;
            EXPECT_STREQ(g_serverAddress.Get(), whole ? "127.0.0.8" : VELGRIM_FALLBACK_SERVER) << "the list";
            EXPECT_EQ(g_serverPort, whole ? 7200 : 6527);
            EXPECT_EQ(trace.HasError(failure), !whole);
        }
        TRACE_CAPTURE trace;
        HTTP_SCRIPT_SERVER server(script(a, SignedManifest()));
        RELEASE_MANIFEST manifest;
        std::string reason;
        const bool taken = FetchReleaseManifest("127.0.0.1", server.Port(), "/velgrim_release.txt", key,
                                                signing_vectors::kManifestExpires - 1, &manifest, &reason);
        EXPECT_EQ(taken, a.problem == nullptr && !a.cutShort) << "the manifest: " << reason;
        if (a.problem != nullptr) {
            EXPECT_EQ(reason.rfind("no answer from 127.0.0.1:", 0), 0u) << reason;
            EXPECT_TRUE(trace.HasError(failure));
        } else if (a.cutShort) {
            EXPECT_EQ(reason, "cut short (" + std::to_string(SignedManifest().size()) + " bytes, no last chunk)");
        }
    }
}

// Decoding does not depend on how the bytes are cut into receives.
TEST(WebHostAnswers, ChunkedBodiesDecodeInAnyPieces)
{
    const std::string body = "0123456789abcdefghij";
    const std::string encoded = "3\r\n012\r\n00a;x=1\r\n3456789abc\r\n7 \r\ndefghij\r\n0\r\nT: 1\r\n\r\nNEXT";
    for (size_t piece = 1; piece <= encoded.size(); ++piece) {
        SCOPED_TRACE(piece);
        HTTP_CHUNKED_DECODER decoder;
        std::string buffer = encoded;
        size_t out = 0;
        for (size_t at = 0; at < buffer.size() && !decoder.Ended(); at += piece) {
            const int n = static_cast<int>(std::min(piece, buffer.size() - at));
            const int written = decoder.Decode(&buffer[at], n, &buffer[out]);
            ASSERT_GE(written, 0);
            out += static_cast<size_t>(written);
        }
        EXPECT_TRUE(decoder.Ended());
        EXPECT_EQ(buffer.substr(0, out), body);
    }
    const char* broken[] = {"\r\n", "-1\r\n", "8000000" "0\r\n", "3\nabc", "3\r\nabcd\r\n", "3\r\nabc\n", "3 x\r\n",
                            "0\r\nT: 1\rx"};
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        HTTP_CHUNKED_DECODER decoder;
        std::string buffer = std::string(text) + "\r\n";
        EXPECT_EQ(decoder.Decode(&buffer[0], static_cast<int>(buffer.size()), &buffer[0]), -1);
        EXPECT_EQ(decoder.Decode("0\r\n\r\n", 5, &buffer[0]), -1) << "a broken body stays broken";
    }
}

// The same files from nginx, once with a length and once chunked (as a script's output).
TEST(WebHostAnswers, NginxChunkedListAndManifest)
{
    const int port = NginxFixturePort();
    if (port == 0)
        GTEST_SKIP() << "no nginx web host in this run";
    uint8_t key[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    for (const char* dir : {"", "chunked/"}) {
        SCOPED_TRACE(dir);
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        int size = 0;
        const std::string list = std::string(dir) + "velgrim_load_servers.php";
        const char* body = HttpGetBody(*browser, "127.0.0.1", port, list.c_str(), &size);
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(browser->m_bChunked, dir[0] != '\0');
        EXPECT_TRUE(browser->BodyComplete());
        EXPECT_EQ(std::string(body, static_cast<size_t>(size)),
                  "2;127.0.0.21;7101;50;0;a;b;127.0.0.22;7102;20;0;a;b;127.0.0.23;7103;20;3;a;b;");

        RELEASE_MANIFEST manifest;
        std::string reason;
        std::string path = "/";
        path.append(dir).append("velgrim_release.txt");
        EXPECT_TRUE(FetchReleaseManifest("127.0.0.1", port, path.c_str(), key, signing_vectors::kManifestExpires - 1,
                                         &manifest, &reason))
            << reason;
        EXPECT_EQ(manifest.gameVersion, 7u);
    }
}
