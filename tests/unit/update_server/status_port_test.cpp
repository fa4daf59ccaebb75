// The status port's pieces that need no socket: the request check, the load line, the
// metrics page and the client cap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/server_load.h"
#include "update_server/server_metrics.h"
#include "update_server/status_http_server.h"
#include "update_server/status_request.h"
#include "update_server/update_server.h"

TEST(StatusRequest, OnlyAWholeBoundedGetIsAnswered)
{
    struct CASE {
        std::string received;
        STATUS_REQUEST_STATE state;
        const char* path;
    };
    const std::string big(5000, 'a');
    const std::vector<CASE> cases = {
        {"GET /load HTTP/1.1\r\nHost: x\r\n\r\n", REQUEST_GET, "/load"},
        {"\r\nGET /metrics?x=1 HTTP/1.0\n\n", REQUEST_GET, "/metrics"},
        {"GET /load HTTP/1.1\r\nHost: x\r\n", REQUEST_INCOMPLETE, ""},
        {"GET /lo", REQUEST_INCOMPLETE, ""},
        {"", REQUEST_INCOMPLETE, ""},
        {"GET /" + big + " HTTP/1.1\r\n", REQUEST_TOO_LARGE, ""},
        {"GET / HTTP/1.1\r\nX: " + big + "\r\n\r\n", REQUEST_TOO_LARGE, ""},
        {std::string(5000, '\n'), REQUEST_TOO_LARGE, ""},
        {"POST /load HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", REQUEST_NOT_GET, ""},
        {"HEAD /load HTTP/1.1\r\n\r\n", REQUEST_NOT_GET, ""},
        {"GET /load HTTP/2.0\r\n\r\n", REQUEST_BAD, ""},
        {"GET load HTTP/1.1\r\n\r\n", REQUEST_BAD, ""},
        {"GET  /load HTTP/1.1\r\n\r\n", REQUEST_BAD, ""},
        {"GET /lo\x01" "ad HTTP/1.1\r\n\r\n", REQUEST_BAD, ""},
        {"GET /load HTTP/1.1\r\nno colon here\r\n\r\n", REQUEST_BAD, ""},
        {"GET /load HTTP/1.1\r\n folded: x\r\n\r\n", REQUEST_BAD, ""},
        {"G(T /load HTTP/1.1\r\n\r\n", REQUEST_BAD, ""},
        {"\x16\x03\x01\x02\x01\x01\xfc\x03\x03\n\n", REQUEST_BAD, ""},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.received.substr(0, 60));
        std::string path;
        EXPECT_EQ(CheckStatusRequest(c.received, STATUS_HTTP_SERVER::kMaxRequestHead, &path), c.state);
        if (c.state == REQUEST_GET) {
            EXPECT_EQ(path, c.path);
        }
    }
}

TEST(StatusRequest, ResponsesCloseAndCountTheirBody)
{
    EXPECT_EQ(StatusResponse(200, "text/plain", "1 2 0 3 4\n"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\nCache-Control: no-store\r\n"
              "Connection: close\r\n\r\n1 2 0 3 4\n");
    EXPECT_NE(StatusResponse(405, "text/plain", "").find("\r\nAllow: GET\r\n"), std::string::npos);
}

TEST(ServerLoad, LineRoundTripsAndRejectsAnythingElse)
{
    SERVER_LOAD load;
    load.connections = 12;
    load.capacity = 1000;
    load.draining = true;
    load.gameVersion = 4294967295u;
    load.updaterVersion = 1100;
    EXPECT_EQ(FormatServerLoad(load), "12 1000 1 4294967295 1100\n");
    SERVER_LOAD back;
    ASSERT_TRUE(ParseServerLoad(FormatServerLoad(load), &back));
    EXPECT_EQ(back.connections, 12u);
    EXPECT_EQ(back.capacity, 1000u);
    EXPECT_TRUE(back.draining);
    EXPECT_EQ(back.gameVersion, 4294967295u);
    EXPECT_EQ(back.updaterVersion, 1100u);
    EXPECT_TRUE(ParseServerLoad("0 1 0 7 0", &back));
    EXPECT_TRUE(ParseServerLoad("0 1 0 7 0\r\n", &back));

    for (const char* bad : {"", "\n", "0 1 0 7", "0 1 0 7 0 0", "0 0 0 7 0", "0 1 2 7 0", "0 1 0 4294967296 0",
                            "-1 1 0 7 0", "+1 1 0 7 0", "0  1 0 7 0", " 0 1 0 7 0", "0 1 0 7 0\n\n",
                            "0\t1 0 7 0", "99999999999999999999 1 0 7 0", "0 1 0 0x7 0", "<html>"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseServerLoad(bad, &back));
    }
}

TEST(ServerMetrics, EveryFamilyHasHelpTypeAndConventionalNames)
{
    SERVER_COUNTERS c;
    c.dropped[DROP_IDLE] = 3;
    c.patchesSent = 2;
    SERVER_GAUGES g;
    g.clients = 5;
    g.gameVersion = 7;
    g.sentBytes = 1234;
    const std::string page = RenderMetrics(c, g);
    EXPECT_NE(page.find("\nvelgrim_update_server_connections_dropped_total{reason=\"idle\"} 3\n"), std::string::npos);
    EXPECT_NE(page.find("\nvelgrim_update_server_files_sent_total{kind=\"patch\"} 2\n"), std::string::npos);
    EXPECT_NE(page.find("\nvelgrim_update_server_sent_bytes_total 1234\n"), std::string::npos);
    EXPECT_NE(page.find("\nvelgrim_update_server_game_version 7\n"), std::string::npos);
    // Each family: HELP, then TYPE; counters end in _total, gauges do not.
    size_t at = 0;
    int families = 0;
    while ((at = page.find("# TYPE ", at)) != std::string::npos) {
        const size_t end = page.find('\n', at);
        const std::string line = page.substr(at + 7, end - at - 7);
        const std::string name = line.substr(0, line.find(' '));
        const std::string type = line.substr(line.find(' ') + 1);
        SCOPED_TRACE(name);
        EXPECT_EQ(name.rfind("velgrim_update_server_", 0), 0u);
        EXPECT_NE(page.find("# HELP " + name + " "), std::string::npos);
        const bool total = name.size() > 6 && name.compare(name.size() - 6, 6, "_total") == 0;
        EXPECT_EQ(total, type == "counter") << type;
        ++families;
        at = end;
    }
    EXPECT_GE(families, 15);
    EXPECT_EQ(page.back(), '\n');

    // The manifest's expiry shows only when there is one.
    const char expiry[] = "\nvelgrim_update_server_manifest_expiry_timestamp_seconds ";
    EXPECT_EQ(page.find(expiry), std::string::npos);
    g.manifestExpires = 1799280000;
    EXPECT_NE(RenderMetrics(c, g).find(std::string(expiry) + "1799280000\n"), std::string::npos);
}

TEST(ClientCap, StaysBelowTheDescriptorLimit)
{
    EXPECT_EQ(UPDATE_SERVER::ClientLimit(0), 0u) << "no limit, no cap";
    EXPECT_EQ(UPDATE_SERVER::ClientLimit(256), 256u - UPDATE_SERVER::kDescriptorReserve);
    EXPECT_EQ(UPDATE_SERVER::ClientLimit(1048576), 1048576u - UPDATE_SERVER::kDescriptorReserve);
    EXPECT_EQ(UPDATE_SERVER::ClientLimit(64), 32u) << "a tiny limit still keeps room";
}
