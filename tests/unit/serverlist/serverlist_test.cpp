// serverlist's parts: the fleet file, the list it builds, the answers it reads, its
// command line and its atomic write.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "serverlist/fleet_file.h"
#include "serverlist/list_builder.h"
#include "serverlist/list_file.h"
#include "serverlist/list_publisher.h"
#include "serverlist/load_poller.h"
#include "serverlist/serverlist_options.h"
#include "support/net_loopback.h"
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

HOST_POLL Garbled(const char* problem)
{
    HOST_POLL p = Silent(problem);
    p.garbled = true;
    return p;
}

HOST_POLL WithUpdater(HOST_POLL p, uint32_t updater)
{
    p.load.updaterVersion = updater;
    return p;
}

std::vector<FLEET_HOST> Fleet(size_t hosts)
{
    std::string text;
    for (size_t i = 0; i < hosts; ++i)
        text += "h" + std::to_string(i) + " 1 127.0.0.1:9 0 0\n";
    std::vector<FLEET_HOST> fleet;
    std::string error;
    EXPECT_TRUE(ParseFleetFile(text, &fleet, &error)) << error;
    return fleet;
}

std::set<std::string> FilesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// A status port that answers one GET /load: once the request is in it first writes a
// byte to `during` (when valid, so a test knows the round is under way), then waits
// delayMs (cut short when the poller goes) and answers with the load line.
class LOAD_HOST {
public:
    LOAD_HOST(const std::string& line, int delayMs, SOCKET during = INVALID_SOCKET)
    {
        m_Listener.Reset(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(at);
        sockaddr* where = reinterpret_cast<sockaddr*>(&at);
        if (bind(m_Listener.Get(), where, sizeof(at)) != 0 || listen(m_Listener.Get(), 1) != 0 ||
            getsockname(m_Listener.Get(), where, &len) != 0)
            return;
        m_iPort = ntohs(at.sin_port);
        m_Thread = std::thread([this, line, delayMs, during] {
            if (SocketWaitReadable(m_Listener.Get(), 5000) != 1)
                return;
            SOCKET_HOLDER s(accept(m_Listener.Get(), nullptr, nullptr));
            std::string request;
            char block[512];
            while (request.find("\r\n\r\n") == std::string::npos && SocketWaitReadable(s.Get(), 5000) == 1) {
                const int n = static_cast<int>(recv(s.Get(), block, sizeof(block), 0));
                if (n <= 0)
                    return;
                request.append(block, static_cast<size_t>(n));
            }
            if (during != INVALID_SOCKET)
                SendAll(during, "!");
            // The poller closing its end ends the wait.
            if (delayMs > 0 && SocketWaitReadable(s.Get(), delayMs) == 1)
                return;
            SendAll(s.Get(), "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + line);
        });
    }
    ~LOAD_HOST()
    {
        if (m_Thread.joinable())
            m_Thread.join();
    }
    std::string FleetLine(const char* address) const
    {
        return std::string(address) + " 7000 127.0.0.1:" + std::to_string(m_iPort) + " 0 0\n";
    }

private:
    SOCKET_HOLDER m_Listener;
    int m_iPort = 0;
    std::thread m_Thread;
};

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
    // A draining host's newer release does not count: it takes no players.
    const std::vector<HOST_POLL> polls = {Answer(3, 10, false, 7),       Answer(2, 3, false, 7),
                                          Answer(0, 1000, true, 9),      Answer(5, 10, false, 6),
                                          Silent("connect: refused"),    Answer(5000000000ull, 1, false, 7)};
    const SERVER_LIST list = BuildServerList(fleet, polls);
    EXPECT_EQ(list.text, "6;a;1;300;0;x;y;b;2;666;0;0;0;c;3;0;15;0;0;d;4;500;15;0;0;e;5;0;15;0;0;f;6;999999;0;0;0;\n");
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

// No single host decides the fleet's release: the manifest does, or the most capacity.
TEST(ServerListBuilder, TheFleetsReleaseIsNotTheHighestAnyHostClaims)
{
    RELEASE_MANIFEST manifest;
    manifest.gameVersion = 7;
    manifest.updaterVersion = 1100;
    struct CASE {
        const char* what;
        std::vector<HOST_POLL> polls;
        const RELEASE_MANIFEST* manifest;
        std::vector<std::string> conditions; // DescribeCondition of each host
    };
    const std::string open7 = "healthy, load 0 (0 of 10 clients, game version 7)";
    const CASE cases[] = {
        {"a host above the majority, no manifest",
         {Answer(0, 10, false, 7), Answer(0, 10, false, 7), Answer(0, 10, false, 80)},
         nullptr,
         {open7, open7, "not on the fleet's release (game version 80 above 7): state 15"}},
        {"a liar with the highest version",
         {Answer(0, 10, false, 7), Answer(0, 1, false, 4294967295u)},
         nullptr,
         {open7, "not on the fleet's release (game version 4294967295 above 7): state 15"}},
        {"capacity, not the count of hosts, decides",
         {Answer(0, 10, false, 6), Answer(0, 10, false, 6), Answer(0, 1000, false, 7), Answer(0, 1000, true, 8)},
         nullptr,
         {"lagging (game version 6 below 7): state 15", "lagging (game version 6 below 7): state 15",
          "healthy, load 0 (0 of 1000 clients, game version 7)", "draining: state 15"}},
        {"a tie goes to the higher version",
         {Answer(0, 10, false, 7), Answer(0, 10, false, 8), Answer(0, 5, false, 6)},
         nullptr,
         {"lagging (game version 7 below 8): state 15", "healthy, load 0 (0 of 10 clients, game version 8)",
          "lagging (game version 6 below 8): state 15"}},
        {"with a manifest: exactly its versions, whatever most capacity serves",
         {WithUpdater(Answer(0, 10, false, 7), 1100), WithUpdater(Answer(0, 1000, false, 8), 1100),
          WithUpdater(Answer(0, 10, false, 6), 1100), WithUpdater(Answer(0, 10, false, 7), 1200)},
         &manifest,
         {open7, "not on the fleet's release (game version 8 above the manifest's 7): state 15",
          "lagging (game version 6 below the manifest's 7): state 15",
          "not on the fleet's release (updater version 1200, the manifest's 1100): state 15"}},
        {"a garbled answer",
         {Answer(0, 10, false, 7), Garbled("not a load line: '<html>'")},
         nullptr,
         {open7, "bad load answer (not a load line: '<html>'): state 15"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        const SERVER_LIST list = BuildServerList(Fleet(c.polls.size()), c.polls, c.manifest);
        std::vector<std::string> conditions;
        size_t open = 0;
        for (const LISTED_HOST& host : list.hosts) {
            conditions.push_back(DescribeCondition(host));
            open += host.state == SERVER_LIST::kStateOpen ? 1 : 0;
        }
        EXPECT_EQ(conditions, c.conditions);
        EXPECT_EQ(list.eligible, open);
    }
    // A garbled answer is no answer: a fleet that only sends garbage keeps the last list.
    EXPECT_EQ(BuildServerList(Fleet(1), {Garbled("x")}).answered, 0u);
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
        {"HTTP/1.1 200 OK\r\n\r\n3 10000001 0 7 0", false, "numbers out of range: '3 10000001 0 7 0'"},
        {"HTTP/1.1 200 OK\r\n\r\n10000001 10 0 7 0\n", false, "numbers out of range: '10000001 10 0 7 0\\x0A'"},
        {"HTTP/1.1 200 OK\r\n\r\n10000000 10000000 0 7 0\n", true, ""},
        {"HTTP/1.1 200 OK\r\n\r\n\x1b[2J\\", false, "not a load line: '\\x1B[2J\\x5C'"},
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
        {{"--manifest", "m.txt", "--pub=k.pub", "a", "b"}, true, ""},
        {{"--manifest", "m.txt", "a", "b"}, false, "--manifest needs --pub KEY to check it"},
        {{"--pub", "k.pub", "a", "b"}, false, "--pub needs --manifest"},
        {{"a", "b", "--manifest"}, false, "--manifest needs a file name"},
        {{"--manifest=", "--pub", "k", "a", "b"}, false, "--manifest needs a file name"},
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
    // A list that cannot take the new file's name (a directory is in the way): an error.
    ASSERT_EQ(mkdir((dir / "taken").c_str(), 0755), 0);
    EXPECT_FALSE(ReplaceFileAtomically(dir / "taken", "0;\n", &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    // Nothing left behind beside the list, whatever failed.
    EXPECT_EQ(FilesIn(dir.Path()), (std::set<std::string>{"velgrim_load_servers.php", "taken"}));
}

// A signal during a round (the wake descriptor turns readable) discards the round: the
// hosts polled so far never make a list of their own. The next round publishes it whole.
TEST(ListPublisher, ARoundCutShortIsNeverPublished)
{
    TEMP_DIR dir;
    const std::string path = dir / "list";
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(path, "last;\n", &error)) << error;
    SOCKET ours = INVALID_SOCKET;
    SOCKET theirs = INVALID_SOCKET;
    ASSERT_TRUE(MakeLoopbackPair(&ours, &theirs));
    SOCKET_HOLDER wake(ours);
    SOCKET_HOLDER signal(theirs);
    std::vector<FLEET_HOST> fleet;
    {
        LOAD_HOST quick("1 10 0 7 0\n", 0);
        LOAD_HOST slow("2 10 0 7 0\n", 5000, signal.Get());
        ASSERT_TRUE(ParseFleetFile(quick.FleetLine("a") + slow.FleetLine("b"), &fleet, &error)) << error;
        LIST_PUBLISHER publisher(fleet, path);
        EXPECT_EQ(publisher.Round(4000, wake.Get()), ROUND_DISCARDED);
        std::string text;
        ASSERT_TRUE(ReadTextFile(path, &text));
        EXPECT_EQ(text, "last;\n");
    }
    LOAD_HOST quick("1 10 0 7 0\n", 0);
    LOAD_HOST slow("2 10 0 7 0\n", 100);
    ASSERT_TRUE(ParseFleetFile(quick.FleetLine("a") + slow.FleetLine("b"), &fleet, &error)) << error;
    LIST_PUBLISHER publisher(fleet, path);
    EXPECT_EQ(publisher.Round(4000, INVALID_SOCKET), ROUND_PUBLISHED);
    std::string text;
    ASSERT_TRUE(ReadTextFile(path, &text));
    EXPECT_EQ(text, "2;a;7000;100;0;0;0;b;7000;200;0;0;0;\n");
}

#endif
