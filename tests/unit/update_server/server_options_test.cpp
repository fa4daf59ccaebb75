#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sockets.h"
#include "update_server/server_options.h"

namespace {

bool Parse(std::vector<const char*> args, SERVER_OPTIONS* options, std::string* error)
{
    args.insert(args.begin(), "update-server");
    return ParseServerOptions(static_cast<int>(args.size()), args.data(), options, error);
}

} // namespace

TEST(ServerOptions, DefaultsAndEveryOption)
{
    SERVER_OPTIONS o;
    std::string error;
    ASSERT_TRUE(Parse({"rel"}, &o, &error)) << error;
    EXPECT_EQ(o.port, 6527);
    EXPECT_EQ(o.listenAddress, static_cast<unsigned long>(INADDR_ANY));
    EXPECT_EQ(o.budgetMiB, 256u);
    EXPECT_EQ(o.idleTimeoutSeconds, 60u);
    EXPECT_EQ(o.releaseDir, "rel");
    EXPECT_FALSE(o.help);

    ASSERT_TRUE(Parse({"--port", "7000", "--listen=127.0.0.2", "--budget-mib", "64", "--idle-timeout=5", "--rate-kib",
                       "300", "dir"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.port, 7000);
    EXPECT_EQ(o.listenAddress, 0x7F000002ul);
    EXPECT_EQ(o.budgetMiB, 64u);
    EXPECT_EQ(o.idleTimeoutSeconds, 5u);
    EXPECT_EQ(o.rateKiB, 300u);
    EXPECT_EQ(o.releaseDir, "dir");

    EXPECT_TRUE(o.statusListen.empty()) << "no status port unless asked for";
    EXPECT_EQ(o.capacity, 1000u);
    EXPECT_FALSE(o.drain);
    ASSERT_TRUE(Parse({"--status-listen", "127.0.0.3:9465", "--capacity=40", "--drain", "--listen", "127.0.0.3",
                       "--port", "9466", "dir"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.statusAddress, 0x7F000003ul);
    EXPECT_EQ(o.statusPort, 9465);
    EXPECT_EQ(o.capacity, 40u);
    EXPECT_TRUE(o.drain);
    // The same port on another address is another socket.
    EXPECT_TRUE(Parse({"--listen", "127.0.0.3", "--status-listen", "127.0.0.4:6527", "dir"}, &o, &error)) << error;

    ASSERT_TRUE(Parse({"--help"}, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"--", "--odd-dir-name"}, &o, &error));
    EXPECT_EQ(o.releaseDir, "--odd-dir-name");
}

TEST(ServerOptions, BadCommandLinesSayWhatIsWrong)
{
    struct CASE {
        std::vector<const char*> args;
        const char* error;
    };
    const std::vector<CASE> cases = {
        {{}, "no release directory given"},
        {{"a", "b"}, "more than one release directory given"},
        {{"--port", "65536", "rel"}, "--port needs a whole number from 0 to 65535, not '65536'"},
        {{"--port", "-1", "rel"}, "not '-1'"},
        {{"--port"}, "--port needs a value"},
        {{"--listen", "localhost", "rel"}, "--listen needs an IPv4 address"},
        {{"--listen", "10.0.0", "rel"}, "not '10.0.0'"},
        {{"--budget-mib", "0", "rel"}, "--budget-mib needs a whole number from 1"},
        {{"--idle-timeout", "0", "rel"}, "--idle-timeout needs a whole number from 1"},
        {{"--verbose", "rel"}, "unknown option '--verbose'"},
        {{"--status-listen", "127.0.0.1", "rel"}, "--status-listen needs an IPv4 address and a port"},
        {{"--status-listen", "localhost:9465", "rel"}, "not 'localhost:9465'"},
        {{"--status-listen", "127.0.0.1:65536", "rel"}, "not '127.0.0.1:65536'"},
        {{"--status-listen", "127.0.0.1:6527", "rel"}, "is the players' port"},
        {{"--listen", "10.0.0.1", "--port", "7000", "--status-listen=0.0.0.0:7000", "rel"}, "is the players' port"},
        {{"--capacity", "0", "rel"}, "--capacity needs a whole number from 1"},
        {{"--drain=1", "rel"}, "unknown option '--drain=1'"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.error);
        SERVER_OPTIONS o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}
