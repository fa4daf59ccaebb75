#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/server_list.h"
#include "platform/clock.h"
#include "support/http_script_server.h"
#include "support/nginx_fixture.h"
#include "velgrim_config.h"

namespace {

const char kFallbackMark[] = "fallback.test";

std::vector<std::string> Fields(const char* text)
{
    PTR_ARRAY<HEAP_STR> fields;
    fields.Init();
    ParseArgServer(&fields, text);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < fields.Count(); ++i)
        out.push_back(fields[i].Get() != nullptr ? fields[i].Get() : "<null>");
    return out;
}

void ExpectFallback()
{
    EXPECT_STREQ(g_serverAddress.Get(), VELGRIM_FALLBACK_SERVER);
    EXPECT_EQ(g_serverPort, 6527);
    // The fallback is then the only server to try.
    ASSERT_EQ(g_serverCandidates.size(), 1u);
    EXPECT_EQ(g_serverCandidates[0].address, VELGRIM_FALLBACK_SERVER);
    EXPECT_EQ(g_serverCandidates[0].port, 6527);
}

std::string Names(const std::vector<SERVER_ENDPOINT>& servers)
{
    std::string names;
    for (const SERVER_ENDPOINT& s : servers)
        names += s.address + ":" + std::to_string(s.port) + " ";
    return names;
}

} // namespace

TEST(ServerList, ParseCutsAtSemicolonsAndTrimsNothing)
{
    struct CASE {
        const char* text;
        std::vector<std::string> fields;
    };
    const CASE cases[] = {
        {"", {}},
        {"no semicolon", {}},
        {"a;;b;", {"a", "", "b"}},
        {";", {""}},
        {" a \t;\r\nb;tail", {" a \t", "\r\nb"}},
        {"\xff\x80;", {"\xff\x80"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Fields(c.text), c.fields);
    }
    // Fields are appended after what the array holds.
    PTR_ARRAY<HEAP_STR> fields;
    fields.Init();
    fields.Push(HEAP_STR("kept"));
    ParseArgServer(&fields, "x;y;");
    ASSERT_EQ(fields.Count(), 3u);
    EXPECT_STREQ(fields[0].Get(), "kept");
    EXPECT_STREQ(fields[2].Get(), "y");
}

TEST(ServerList, HeaderMustBeDigits)
{
    struct CASE {
        const char* text;
        bool digits;
    };
    const CASE cases[] = {
        {nullptr, false}, {"", true},     {"0123456789", true}, {"12a", false}, {" 1", false},
        {"1 ", false},    {"-1", false},  {"+1", false},        {"\xb9", false}, {"/", false},
        {":", false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "null");
        EXPECT_EQ(IsAllDigits(c.text), c.digits);
    }
}

TEST(ServerList, SelectsTheLeastLoadedEligibleServer)
{
    struct SERVER {
        std::string address;
        int32_t port, load, state;
    };
    struct CASE {
        const char* name;
        std::string body;
        std::vector<SERVER> list;  // g_serverList afterwards (filled only under a digit header)
        std::string address;       // selected; kFallbackMark: none selected
        int32_t port;
    };
    const std::string a = "1;srv-a;7001;50;0;x;y;";
    const CASE cases[] = {
        {"only a header", "20240101;", {}, kFallbackMark, 6527},
        {"empty body", "", {}, kFallbackMark, 6527},
        {"lower load wins", a + "srv-b;7002;20;0;x;y;", {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, 20, 0}}, "srv-b",
         7002},
        {"state 15 is not eligible", a + "srv-b;7002;20;15;x;y;", {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, 20, 15}},
         "srv-a", 7001},
        {"state 14 is eligible", a + "srv-b;7002;20;14;x;y;", {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, 20, 14}},
         "srv-b", 7002},
        {"ties go to the first", "1;srv-a;7001;20;0;x;y;srv-b;7002;20;0;x;y;",
         {{"srv-a", 7001, 20, 0}, {"srv-b", 7002, 20, 0}}, "srv-a", 7001},
        {"load 1000000 never wins", "1;srv-a;7001;1000000;0;x;y;", {{"srv-a", 7001, 1000000, 0}}, kFallbackMark,
         6527},
        {"load 999999 wins", "1;srv-a;7001;999999;0;x;y;", {{"srv-a", 7001, 999999, 0}}, "srv-a", 7001},
        {"11 fields: one server", "1;srv-a;7001;50;0;x;y;srv-b;7002;20;0;", {{"srv-a", 7001, 50, 0}}, "srv-a", 7001},
        {"12 fields: two servers, the second from its first four", "1;srv-a;7001;50;0;x;y;srv-b;7002;20;0;z;",
         {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, 20, 0}}, "srv-b", 7002},
        {"a line break stays in the address", "1;\r\nsrv-a;7001;50;0;x;y;", {{"\r\nsrv-a", 7001, 50, 0}},
         "\r\nsrv-a", 7001},
        {"a negative load beats every other", a + "srv-b;7002;-5;0;x;y;" + "srv-c;7003;0;0;x;y;",
         {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, -5, 0}, {"srv-c", 7003, 0, 0}}, "srv-b", 7002},
        {"a port without digits is 0 and still selectable", "1;srv-a;port;10;0;x;y;", {{"srv-a", 0, 10, 0}},
         "srv-a", 0},
        {"a load without digits is 0", a + "srv-b;7002;busy;0;x;y;", {{"srv-a", 7001, 50, 0}, {"srv-b", 7002, 0, 0}},
         "srv-b", 7002},
        {"an empty header passes", ";srv-a;7001;50;0;x;y;", {{"srv-a", 7001, 50, 0}}, "srv-a", 7001},
        {"a header with a letter selects nothing", "1a;srv-a;7001;50;0;x;y;", {{"", 0, 0, 0}}, kFallbackMark, 6527},
        {"an error page selects nothing", "<html><body>Not Found;srv-a;7001;50;0;x;y;", {{"", 0, 0, 0}},
         kFallbackMark, 6527},
        {"numbers: blanks, sign, digits up to the first other character", "1;srv-a; \t+7001x;\n 42 ;-0;x;y;",
         {{"srv-a", 7001, 42, 0}}, "srv-a", 7001},
        {"numbers wrap around at 32 bits", "1;srv-a;4294974297;4294967297;4294967295;x;y;",
         {{"srv-a", 7001, 1, -1}}, "srv-a", 7001},
        {"a load that wraps to a large positive value", "1;srv-a;7001;-2147483649;0;x;y;",
         {{"srv-a", 7001, 2147483647, 0}}, kFallbackMark, 6527},
        {"empty fields read as 0", "1;srv-a;7001;1000000;0;;;srv-b;;999999;;;;",
         {{"srv-a", 7001, 1000000, 0}, {"srv-b", 0, 999999, 0}}, "srv-b", 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        PTR_ARRAY<HEAP_STR> fields;
        fields.Init();
        ParseArgServer(&fields, c.body.c_str());
        PTR_ARRAY<SERVER_INFO> list;
        list.Init();
        HEAP_STR address(kFallbackMark);
        int32_t port = 6527;
        SelectServer(fields, &list, &address, &port);
        EXPECT_EQ(std::string(address.Get()), c.address);
        EXPECT_EQ(port, c.port);
        ASSERT_EQ(list.Count(), c.list.size());
        for (uint32_t i = 0; i < list.Count(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(std::string(list[i].address.Get() != nullptr ? list[i].address.Get() : ""), c.list[i].address);
            EXPECT_EQ(list[i].port, c.list[i].port);
            EXPECT_EQ(list[i].load, c.list[i].load);
            EXPECT_EQ(list[i].state, c.list[i].state);
        }
    }
}

// The servers tried after the selected one: the other eligible ones by the same rule,
// lowest load first, ties in list order.
TEST(ServerList, TheOtherEligibleServersFollowInTheOrderOfChoice)
{
    struct CASE {
        const char* name;
        const char* body;
        const char* selected;
        std::string others;
    };
    const CASE cases[] = {
        {"by load, ties in list order, the ineligible left out",
         "1;a;1;30;0;x;y;b;2;10;0;x;y;c;3;30;0;x;y;d;4;5;15;x;y;e;5;1000000;0;x;y;f;6;10;0;x;y;", "b",
         "f:6 a:1 c:3 "},
        {"one server", "1;a;1;30;0;x;y;", "a", ""},
        {"none eligible", "1;a;1;30;15;x;y;", kFallbackMark, ""},
        {"a header with a letter", "1a;a;1;30;0;x;y;b;2;10;0;x;y;", kFallbackMark, ""},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        PTR_ARRAY<HEAP_STR> fields;
        fields.Init();
        ParseArgServer(&fields, c.body);
        PTR_ARRAY<SERVER_INFO> list;
        list.Init();
        HEAP_STR address(kFallbackMark);
        int32_t port = 6527;
        std::vector<SERVER_ENDPOINT> others;
        SelectServer(fields, &list, &address, &port, &others);
        EXPECT_STREQ(address.Get(), c.selected);
        EXPECT_EQ(Names(others), c.others);
    }
}

TEST(ServerList, QueryAsksForTheListWithExactBytes)
{
    const std::string list = "3;127.0.0.7;7100;10;0;x;y;";
    HTTP_SCRIPT_SERVER server({{0, HttpResponse(list)}});
    g_serverAddress.Assign("stale");
    g_serverPort = 1;
    QueryServerList("127.0.0.1", server.Port());
    server.Join();
    EXPECT_EQ(server.Request(), std::string("GET /velgrim_load_servers.php HTTP/1.1\r\nHost: 127.0.0.1 \r\n\r\n") +
                                    std::string(1, '\0'));
    EXPECT_STREQ(g_serverAddress.Get(), "127.0.0.7");
    EXPECT_EQ(g_serverPort, 7100);
    EXPECT_EQ(Names(g_serverCandidates), "127.0.0.7:7100 ");
    ASSERT_EQ(g_serverList.Count(), 1u);
    EXPECT_STREQ(g_serverList[0].address.Get(), "127.0.0.7");
}

TEST(ServerList, QueryFallsBackWhenTheListCannotBeHad)
{
    struct CASE {
        const char* name;
        std::vector<HTTP_SCRIPT_SERVER::STEP> script;
    };
    const std::string errorPage = "<html>Server error; try 127.0.0.9;7000;1;0;x;y;</html>";
    const CASE cases[] = {
        {"error page with a non-digit header",
         {{0, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: " + std::to_string(errorPage.size()) +
                  "\r\n\r\n" + errorPage}}},
        {"empty response", {}},
        {"no blank line", {{0, "HTTP/1.1 200 OK\r\n1;127.0.0.9;7000;1;0;x;y;"}}},
        {"silent server", {{60000, ""}}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        HTTP_SCRIPT_SERVER server(c.script);
        g_serverAddress.Assign("stale");
        g_serverPort = 1;
        const uint64_t start = MonotonicMs();
        QueryServerList("127.0.0.1", server.Port());
        EXPECT_LT(MonotonicMs() - start, 15000u);
        ExpectFallback();
    }
    g_serverAddress.Assign("stale");
    QueryServerList("127.0.0.1", RefusedLoopbackPort());
    ExpectFallback();
}

TEST(ServerList, QueryAgainstTheWebHost)
{
    const int port = NginxFixturePort();
    if (port == 0)
        GTEST_SKIP() << "no nginx web host in this run";
    // The published list: load 50, then two servers of load 20 (the first wins the tie).
    g_serverAddress.Assign("stale");
    QueryServerList("127.0.0.1", port);
    EXPECT_STREQ(g_serverAddress.Get(), "127.0.0.22");
    EXPECT_EQ(g_serverPort, 7102);
    EXPECT_EQ(g_serverList.Count(), 3u);
    // The host "localhost" (looked up by name) has no list: nginx's 404 page.
    QueryServerList("localhost", port);
    ExpectFallback();
}
