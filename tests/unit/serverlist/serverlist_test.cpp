// serverlist's parts: the fleet file, the list it builds, the answers it reads, its
// command line and its atomic write.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "serverlist/fleet_file.h"
#include "serverlist/list_builder.h"
#include "serverlist/list_file.h"
#include "serverlist/load_poller.h"
#include "serverlist/serverlist_options.h"
#include "support/temp_dir.h"

namespace {

HOST_POLL Answer(uint64_t connections, uint64_t capacity, bool draining, uint32_t game)
{
    HOST_POLL p;
    p.answered = true;
    p.load.connections = connections;
    p.load.capacity = capacity;
    p.load.draining = draining;
    p.load.gameVersion = game;
    return p;
}

HOST_POLL Silent(const char* problem)
{
    HOST_POLL p;
    p.problem = problem;
    return p;
}

} // namespace

TEST(FleetFile, ReadsHostsCommentsAndBlankLines)
{
    std::vector<FLEET_HOST> hosts;
    std::string error;
    ASSERT_TRUE(ParseFleetFile("# the fleet\n\npatch1.example.com 6527 10.0.0.11:9465 0 0\r\n"
                               "  10.0.0.12\t6528  10.0.0.12:1 x-1 y.2  \n",
                               &hosts, &error))
        << error;
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].address, "patch1.example.com");
    EXPECT_EQ(hosts[0].port, 6527);
    EXPECT_EQ(hosts[0].statusAddress, "10.0.0.11");
    EXPECT_EQ(hosts[0].statusPort, 9465);
    EXPECT_EQ(hosts[1].Name(), "10.0.0.12:6528");
    EXPECT_EQ(hosts[1].x, "x-1");
    EXPECT_EQ(hosts[1].y, "y.2");
}

TEST(FleetFile, BadLinesAreNamed)
{
    struct CASE {
        const char* text;
        const char* error;
    };
    const CASE cases[] = {
        {"", "no hosts in the fleet file"},
        {"# only a comment\n", "no hosts"},
        {"a 1 1.2.3.4:5 x\n", "line 1: needs 'address port status-address:status-port x y', found 4"},
        {"a 1 1.2.3.4:5 x y z\n", "found 6"},
        {"a 0 1.2.3.4:5 x y\n", "port '0' is not a number from 1 to 65535"},
        {"a 65536 1.2.3.4:5 x y\n", "port '65536'"},
        {"a 1 host:5 x y\n", "status address 'host:5' is not an IPv4 address"},
        {"a 1 1.2.3.4 x y\n", "status address '1.2.3.4'"},
        {"a 1 1.2.3.4:0 x y\n", "status address '1.2.3.4:0'"},
        {"a;b 1 1.2.3.4:5 x y\n", "'a;b' cannot go into the list"},
        {"a 1 1.2.3.4:5 x; y\n", "'x;' cannot go into the list"},
        {"a 1 1.2.3.4:5 x y\n\na 1 1.2.3.5:6 x y\n", "line 3: a:1 is listed already on line 1"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<FLEET_HOST> hosts;
        std::string error;
        EXPECT_FALSE(ParseFleetFile(c.text, &hosts, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(ServerListBuilder, LoadAndStateOfEachKindOfHost)
{
    std::vector<FLEET_HOST> fleet;
    std::string error;
    ASSERT_TRUE(ParseFleetFile("a 1 1.1.1.1:9 x y\nb 2 1.1.1.1:9 0 0\nc 3 1.1.1.1:9 0 0\nd 4 1.1.1.1:9 0 0\n"
                               "e 5 1.1.1.1:9 0 0\nf 6 1.1.1.1:9 0 0\n",
                               &fleet, &error));
    // A draining host's newer release does not make the others lag: it takes no players.
    const std::vector<HOST_POLL> polls = {Answer(3, 10, false, 7),       Answer(2, 3, false, 7),
                                          Answer(0, 1000, true, 9),      Answer(5, 1000, false, 6),
                                          Silent("connect: refused"),    Answer(5000000000ull, 1, false, 7)};
    const SERVER_LIST list = BuildServerList(fleet, polls);
    EXPECT_EQ(list.text, "6;a;1;300;0;x;y;b;2;666;0;0;0;c;3;0;15;0;0;d;4;5;15;0;0;e;5;0;15;0;0;f;6;999999;0;0;0;\n");
    EXPECT_EQ(list.answered, 5u);
    EXPECT_EQ(list.eligible, 3u);
    EXPECT_EQ(list.hosts[2].condition, HOST_DRAINING);
    EXPECT_EQ(list.hosts[3].condition, HOST_LAGGING);
    EXPECT_EQ(DescribeCondition(list.hosts[3]), "lagging (game version 6 below 7): state 15");
    EXPECT_EQ(DescribeCondition(list.hosts[4]), "unreachable (connect: refused): state 15");
    EXPECT_EQ(DescribeCondition(list.hosts[0]), "healthy, load 300 (3 of 10 clients, game version 7)");

    // Nobody answers: every host closed, none eligible (the publisher keeps the last list).
    const SERVER_LIST none = BuildServerList(fleet, std::vector<HOST_POLL>(6, Silent("timed out")));
    EXPECT_EQ(none.answered, 0u);
    EXPECT_EQ(none.eligible, 0u);
}

TEST(ServerListBuilder, ReadsTheLoadAnswerOrSaysWhyNot)
{
    struct CASE {
        std::string response;
        bool ok;
        const char* problem;
    };
    const std::vector<CASE> cases = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n3 10 0 7 0\n", true, ""},
        {"HTTP/1.0 200 OK\r\n\r\n3 10 1 7 0", true, ""},
        {"HTTP/1.1 404 Not Found\r\n\r\nnot found\n", false, "answered '404 Not Found'"},
        {"HTTP/1.1 200 OK\r\n\r\n<html>", false, "not a load line: '<html>'"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n", false, "an answer without a body"},
        {"SSH-2.0-OpenSSH\r\n", false, "not an HTTP answer"},
        {"", false, "not an HTTP answer"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.response);
        SERVER_LOAD load;
        std::string problem;
        EXPECT_EQ(ReadLoadResponse(c.response, &load, &problem), c.ok);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

TEST(ServerlistOptions, CommandLines)
{
    struct CASE {
        std::vector<const char*> args;
        bool ok;
        const char* error;
    };
    const std::vector<CASE> cases = {
        {{"fleet", "list"}, true, ""},
        {{"--once", "--interval", "2", "fleet", "list"}, true, ""},
        {{"--interval=3600", "fleet", "list"}, true, ""},
        {{"--help"}, true, ""},
        {{"fleet"}, false, "needs FLEET_FILE and LIST_FILE"},
        {{"a", "b", "c"}, false, "too many arguments: 'c'"},
        {{"--interval", "0", "a", "b"}, false, "from 1 to 3600, not '0'"},
        {{"--interval", "1s", "a", "b"}, false, "not '1s'"},
        {{"--interval=99999", "a", "b"}, false, "not '99999'"},
        {{"a", "b", "--interval"}, false, "--interval needs a value"},
        {{"--quiet", "a", "b"}, false, "unknown option '--quiet'"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<const char*> args = c.args;
        args.insert(args.begin(), "serverlist");
        SERVERLIST_OPTIONS o;
        std::string error;
        EXPECT_EQ(ParseServerlistOptions(static_cast<int>(args.size()), args.data(), &o, &error), c.ok);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    SERVERLIST_OPTIONS o;
    std::string error;
    const char* args[] = {"serverlist", "--once", "--interval", "7", "f", "l"};
    ASSERT_TRUE(ParseServerlistOptions(6, args, &o, &error));
    EXPECT_TRUE(o.once);
    EXPECT_EQ(o.intervalSeconds, 7u);
    EXPECT_EQ(o.fleetFile, "f");
    EXPECT_EQ(o.listFile, "l");
}

TEST(ListFile, ReplacedWholeAndReadableByTheWebServer)
{
    TEMP_DIR dir;
    const std::string path = dir / "velgrim_load_servers.php";
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "1;a;1;0;0;x;y;\n", &error)) << error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "0;\n", &error)) << error;
    std::string text;
    ASSERT_TRUE(ReadTextFile(path, &text));
    EXPECT_EQ(text, "0;\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A directory that is not there: an error, no file.
    EXPECT_FALSE(ReplaceFileAtomically(dir / "missing/list", "0;\n", &error));
    EXPECT_NE(error.find("cannot create a temporary file in"), std::string::npos) << error;
    // Nothing left behind beside the list.
    std::string listing;
    EXPECT_FALSE(ReadTextFile(dir / ".velgrim_load_servers.php.XXXXXX", &listing));
}

#endif
