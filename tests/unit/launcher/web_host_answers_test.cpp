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

using STEPS = std::vector<HTTP_SCRIPT_SERVER::STEP>;

// Two servers; the second (load 5) wins only when the list arrived whole.
const std::string kList = "2;127.0.0.7;7100;10;0;x;y;127.0.0.8;7200;5;0;x;y;";

std::string Hex(size_t n)
{
    char text[20];
    std::snprintf(text, sizeof(text), "%zx", n);
    return text;
}

// body in chunks of piece bytes, the last chunk and an empty trailer.
std::string Chunked(const std::string& body, size_t piece, const std::string& extension = "")
{
    std::string out;
    for (size_t at = 0; at < body.size(); at += piece) {
        const std::string part = body.substr(at, piece);
        out += Hex(part.size()) + extension + "\r\n" + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

const char kChunkedHead[] = "HTTP/1.1 200 OK\r\nServer: nginx\r\nTransfer-Encoding: chunked\r\n\r\n";

struct ANSWER {
    const char* what;
    std::function<STEPS(const std::string& body)> script;
    const char* problem;   // the trace's reason when the exchange fails; null: it succeeds
    bool cutShort = false; // the body lacks its end: the list is used, the manifest is not
};

} // namespace

TEST(WebHostAnswers, ListAndManifestAsWebHostsSendThem)
{
    const std::string late = "HTTP/1.1 400 Bad Request\r\n\r\n";
    const std::vector<ANSWER> answers = {
        {"lower-case content-length, body in two blocks",
         [&](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\ncontent-length: " + std::to_string(b.size()) + "\r\n\r\n" +
                                  b.substr(0, 30)},
                          {30, b.substr(30)}, {10000, late}};
         },
         nullptr},
        {"mixed case, no blank, blanks after",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nCoNtEnT-lEnGtH:" + std::to_string(b.size()) + " \t\r\n\r\n"},
                          {30, b}};
         },
         nullptr},
        {"a prefixed name is another header",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nX-Original-Content-Length: 3\r\nContent-Length: " +
                                  std::to_string(b.size()) + "\r\n\r\n" + b}};
         },
         nullptr},
        {"the same length twice",
         [](const std::string& b) {
             const std::string n = std::to_string(b.size());
             return STEPS{{0, "HTTP/1.1 200 OK\r\nContent-Length: " + n + "\r\ncontent-length: " + n + "\r\n\r\n" + b}};
         },
         nullptr},
        {"an overflowing length",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nContent-Length: 4294967296" + std::to_string(b.size()) +
                                  "\r\n\r\n" + b}};
         },
         "a Content-Length that is not a number of bytes"},
        {"a length with a sign",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nContent-Length: +" + std::to_string(b.size()) + "\r\n\r\n" + b}};
         },
         "a Content-Length that is not a number of bytes"},
        {"two different lengths",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(b.size()) +
                                  "\r\nContent-Length: " + std::to_string(b.size() + 1) + "\r\n\r\n" + b}};
         },
         "two different Content-Length values"},
        {"chunked: one chunk, the host keeps the connection",
         [&](const std::string& b) { return STEPS{{0, kChunkedHead + Chunked(b, b.size())}, {10000, late}}; },
         nullptr},
        {"chunked: many chunks with extensions and a trailer",
         [](const std::string& b) {
             std::string body = Chunked(b, 7, ";name=\"v\"");
             body.insert(body.size() - 2, "X-Checksum: 1\r\n");
             return STEPS{{0, kChunkedHead + body + "HTTP/1.1 400 Bad Request\r\n\r\n"}};
         },
         nullptr},
        {"chunked: chunks split across receives",
         [](const std::string& b) {
             const std::string all = kChunkedHead + Chunked(b, 20);
             const size_t head = std::string(kChunkedHead).size();
             // Inside the first size line's CR LF, inside the data, between a chunk's CR and LF.
             const size_t cuts[] = {head + 3, head + 10, head + 24 + 1, all.size() - 3};
             STEPS steps;
             size_t from = 0;
             for (size_t cut : cuts) {
                 steps.push_back({steps.empty() ? 0 : 20, all.substr(from, cut - from)});
                 from = cut;
             }
             steps.push_back({20, all.substr(from)});
             return steps;
         },
         nullptr},
        {"chunked: a size that is not hexadecimal",
         [](const std::string& b) { return STEPS{{0, kChunkedHead + std::string("zz\r\n") + b + "\r\n0\r\n\r\n"}}; },
         "a chunk size that is not hexadecimal"},
        {"chunked: a chunk longer than its size",
         [](const std::string& b) {
             return STEPS{{0, kChunkedHead + Hex(b.size() - 1) + "\r\n" + b + "\r\n0\r\n\r\n"}};
         },
         "a chunk longer than its size"},
        {"chunked: a coding we cannot read",
         [](const std::string& b) {
             return STEPS{{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" + Chunked(b, 9)}};
         },
         "a Transfer-Encoding other than chunked"},
        {"chunked: the host closes before the last chunk",
         [](const std::string& b) {
             const std::string all = Chunked(b, b.size());
             return STEPS{{0, kChunkedHead + all.substr(0, all.size() - 5)}};
         },
         nullptr, true},
    };

    uint8_t key[P256_PUBLIC_KEY_SIZE];
    ASSERT_TRUE(ParseHexLower(signing_vectors::kPublicKey, key, sizeof(key)));
    for (const ANSWER& a : answers) {
        SCOPED_TRACE(a.what);
        const std::string failure = a.problem != nullptr ? std::string("error recv from:127.0.0.1: ") + a.problem : "";
        {
            SCOPED_TRACE("the list");
            TRACE_CAPTURE trace;
            HTTP_SCRIPT_SERVER server(a.script(kList));
            QueryServerList("127.0.0.1", server.Port());
            const bool whole = a.problem == nullptr;
            EXPECT_STREQ(g_serverAddress.Get(), whole ? "127.0.0.8" : VELGRIM_FALLBACK_SERVER);
            EXPECT_EQ(g_serverPort, whole ? 7200 : 6527);
            EXPECT_EQ(trace.HasError(failure), !whole);
        }
        {
            SCOPED_TRACE("the manifest");
            TRACE_CAPTURE trace;
            HTTP_SCRIPT_SERVER server(a.script(SignedManifest()));
            RELEASE_MANIFEST manifest;
            std::string reason;
            const bool taken = FetchReleaseManifest("127.0.0.1", server.Port(), "/velgrim_release.txt", key,
                                                    signing_vectors::kManifestExpires - 1, &manifest, &reason);
            EXPECT_EQ(taken, a.problem == nullptr && !a.cutShort) << reason;
            if (a.problem != nullptr) {
                EXPECT_EQ(reason.rfind("no answer from 127.0.0.1:", 0), 0u) << reason;
                EXPECT_TRUE(trace.HasError(failure));
            } else if (a.cutShort) {
                EXPECT_EQ(reason, "cut short (" + std::to_string(SignedManifest().size()) + " bytes, no last chunk)");
            }
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
        const std::string path = "/" + std::string(dir) + "velgrim_release.txt";
        EXPECT_TRUE(FetchReleaseManifest("127.0.0.1", port, path.c_str(), key, signing_vectors::kManifestExpires - 1,
                                         &manifest, &reason))
            << reason;
        EXPECT_EQ(manifest.gameVersion, 7u);
    }
}
