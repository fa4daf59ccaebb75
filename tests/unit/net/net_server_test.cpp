#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/rx_exs.h"
#include "net/net_client.h"
#include "net/net_message_helper.h"
#include "net/net_server.h"
#include "platform/clock.h"
#include "support/net_loopback.h"
#include "support/trace_capture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#endif

namespace {

class HANDLER_LOG final : public NET_SERVER_HANDLER {
public:
    void OnNewConnect(NET_CONNECT* connection) override
    {
        connections.push_back(connection);
        if (fail)
            throw "handler failed";
    }

    std::vector<NET_CONNECT*> connections;
    bool fail = false;
};

// A server listening on 127.0.0.1 at a free port.
struct LOOPBACK_SERVER {
    NET_SERVER server;
    HANDLER_LOG handler;
    unsigned short port = 0;

    bool Start()
    {
        server.m_pHandler = &handler;
        if (!server.Init(0, INADDR_LOOPBACK))
            return false;
        port = LocalPort(server.m_Socket);
        return port != 0;
    }

    // One Process step once a client waits to be accepted (bounded).
    void StepWhenPending()
    {
        SocketWaitReadable(server.m_Socket, 2000);
        server.Process();
    }
};

} // namespace

TEST(NetServer, InitListensAndGreetsEachClientInTheAcceptingStep)
{
    TRACE_CAPTURE trace;
    LOOPBACK_SERVER s;
    ASSERT_TRUE(s.Start());
    EXPECT_EQ(trace.LogLines(), std::vector<std::string>{"NET_SERVER: init complete\n"});
    SOCKET_HOLDER client(ConnectLoopback(s.port));
    ASSERT_NE(client.Get(), INVALID_SOCKET);
    s.StepWhenPending();
    ASSERT_EQ(s.server.m_Connects.Count(), 1u);
    NET_CONNECT* connection = s.server.m_Connects[0];
    EXPECT_EQ(s.handler.connections, std::vector<NET_CONNECT*>{connection});
    EXPECT_EQ(connection->m_strName, "127.0.0.1");
    EXPECT_FALSE(connection->m_bClosed);
    std::string greeting;
    EXPECT_TRUE(RecvExactly(client.Get(), 8, &greeting, 2000));
    EXPECT_EQ(Hex(greeting), "02 00 00 00 00 00 00 00");
    EXPECT_TRUE(trace.ErrorTexts().empty());
}

TEST(NetServer, AcceptsOneClientPerProcessAndReleasesInPlace)
{
    LOOPBACK_SERVER s;
    ASSERT_TRUE(s.Start());
    SOCKET_HOLDER clients[3];
    for (SOCKET_HOLDER& c : clients) {
        c.Reset(ConnectLoopback(s.port));
        ASSERT_NE(c.Get(), INVALID_SOCKET);
    }
    for (uint32_t i = 1; i <= 3; ++i) {
        s.StepWhenPending();
        EXPECT_EQ(s.server.m_Connects.Count(), i);
    }
    NET_CONNECT* first = s.server.m_Connects[0];
    NET_CONNECT* third = s.server.m_Connects[2];
    s.server.m_Connects[1]->m_bReleased = true;
    s.server.Process();
    ASSERT_EQ(s.server.m_Connects.Count(), 2u);
    EXPECT_EQ(s.server.m_Connects[0], first);
    EXPECT_EQ(s.server.m_Connects[1], third);
    // The second client lost its connection; the others still have theirs.
    std::string greeting;
    for (SOCKET_HOLDER& c : clients)
        EXPECT_TRUE(RecvExactly(c.Get(), 8, &greeting, 2000));
    EXPECT_TRUE(WaitPeerClosed(clients[1].Get(), 2000));
    EXPECT_EQ(SocketWaitReadable(clients[0].Get(), 50), 0);
    EXPECT_EQ(SocketWaitReadable(clients[2].Get(), 50), 0);
}

TEST(NetServer, PeerClosedConnectionStaysListedUntilReleased)
{
    LOOPBACK_SERVER s;
    ASSERT_TRUE(s.Start());
    SOCKET_HOLDER client(ConnectLoopback(s.port));
    s.StepWhenPending();
    ASSERT_EQ(s.server.m_Connects.Count(), 1u);
    client.Reset();
    NET_CONNECT* connection = s.server.m_Connects[0];
    for (int i = 0; i < 50 && !connection->m_bClosed; ++i) {
        SocketWaitReadable(connection->m_Socket, 100);
        s.server.Process();
    }
    EXPECT_TRUE(connection->m_bClosed);
    s.server.Process();
    EXPECT_EQ(s.server.m_Connects.Count(), 1u);
    connection->m_bReleased = true;
    s.server.Process();
    EXPECT_EQ(s.server.m_Connects.Count(), 0u);
}

TEST(NetServer, ProcessBeforeInitDoesNothing)
{
    NET_SERVER server;
    HANDLER_LOG handler;
    server.m_pHandler = &handler;
    server.Process();
    server.Release();
    EXPECT_EQ(server.m_Connects.Count(), 0u);
    EXPECT_TRUE(handler.connections.empty());
    EXPECT_EQ(server.m_Socket, INVALID_SOCKET);
}

TEST(NetServer, BindOnAPortInUseFails)
{
    LOOPBACK_SERVER first;
    ASSERT_TRUE(first.Start());
    TRACE_CAPTURE trace;
    NET_SERVER second;
    EXPECT_FALSE(second.Init(first.port, INADDR_LOOPBACK));
    // The address and the system's words: "address already in use" on Linux.
    const std::string where = "NET_SERVER: cannot listen on 127.0.0.1:" + std::to_string(first.port) + ": ";
    ASSERT_EQ(trace.ErrorTexts().size(), 1u);
    EXPECT_EQ(trace.ErrorTexts()[0].rfind(where, 0), 0u) << trace.ErrorTexts()[0];
#ifndef _WIN32
    EXPECT_EQ(trace.ErrorTexts()[0], where + "Address already in use (EADDRINUSE)");
#endif
    ASSERT_EQ(trace.m_Entries.size(), 1u);
    EXPECT_EQ(trace.m_Entries[0].file, "net/net_server.cpp");
    second.Release();
    EXPECT_EQ(second.m_Socket, INVALID_SOCKET);
}

TEST(NetServer, ClientAndServerExchangeMessages)
{
    LOOPBACK_SERVER s;
    ASSERT_TRUE(s.Start());
    // The serving side answers 262 with the three fields of a version reply.
    MESSAGE_RECORDER serverSide;
    serverSide.m_OnMessage = [&](short id, const char*, int) {
        if (id != 262)
            return;
        NET_MESSAGE_HELPER reply;
        reply.PushDword(17);
        reply.PushString("news", 5);
        reply.PushDword(3);
        reply.Send(s.handler.connections.back(), 262);
    };
    s.handler.fail = false;

    NET_CLIENT client;
    ASSERT_TRUE(client.Init());
    ASSERT_TRUE(client.Connect("127.0.0.1", s.port));
    s.StepWhenPending();
    ASSERT_EQ(s.server.m_Connects.Count(), 1u);
    s.server.m_Connects[0]->m_pReceiver = &serverSide;

    MESSAGE_RECORDER clientSide;
    client.m_pConnect->m_pReceiver = &clientSide;
    NET_MESSAGE_HELPER().Send(client.m_pConnect, 262);
    const uint64_t deadline = MonotonicMs() + 5000;
    while (clientSide.m_Messages.empty() && MonotonicMs() < deadline) {
        client.Process();
        s.server.Process();
        SocketWaitReadable(client.m_Socket, 5);
    }
    ASSERT_EQ(clientSide.m_Messages.size(), 1u);
    const std::string& body = clientSide.m_Messages[0].body;
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body.data(), static_cast<int>(body.size()));
    EXPECT_EQ(reader.GetDword(), 17u);
    EXPECT_STREQ(reader.GetString(), "news");
    EXPECT_EQ(reader.GetDword(), 3u);
    EXPECT_FALSE(reader.m_bReadFailed);
    ASSERT_EQ(serverSide.m_Messages.size(), 1u);
    EXPECT_EQ(serverSide.m_Messages[0].body, "");
}

TEST(NetServer, DestroyingTheServerClosesItsConnectionsAndItsPort)
{
    unsigned short port = 0;
    SOCKET_HOLDER client;
    {
        LOOPBACK_SERVER s;
        ASSERT_TRUE(s.Start());
        port = s.port;
        client.Reset(ConnectLoopback(port));
        s.StepWhenPending();
        ASSERT_EQ(s.server.m_Connects.Count(), 1u);
    }
    EXPECT_TRUE(WaitPeerClosed(client.Get(), 2000));
    SOCKET_HOLDER late(ConnectLoopback(port));
    EXPECT_EQ(late.Get(), INVALID_SOCKET);
}

TEST(NetServer, InitAgainClosesTheEarlierListener)
{
    NET_SERVER server;
    ASSERT_TRUE(server.Init(0, INADDR_LOOPBACK));
    const unsigned short before = LocalPort(server.m_Socket);
    ASSERT_TRUE(server.Init(0, INADDR_LOOPBACK));
    SOCKET_HOLDER late(ConnectLoopback(before));
    EXPECT_EQ(late.Get(), INVALID_SOCKET);
    server.Release();
}

TEST(NetServer, FailuresInsideAStepKeepTheListSound)
{
    LOOPBACK_SERVER s;
    ASSERT_TRUE(s.Start());
    SOCKET_HOLDER a(ConnectLoopback(s.port));
    SOCKET_HOLDER b(ConnectLoopback(s.port));
    s.StepWhenPending();
    s.StepWhenPending();
    ASSERT_EQ(s.server.m_Connects.Count(), 2u);
    NET_CONNECT* second = s.server.m_Connects[1];
    MESSAGE_RECORDER throwing;
    throwing.m_OnMessage = [](short, const char*, int) { throw "receiver failed"; };
    second->m_pReceiver = &throwing;
    // The first is released in the same pass in which the second's receiver fails.
    s.server.m_Connects[0]->m_bReleased = true;
    ASSERT_TRUE(SendAll(b.Get(), Frame(300, "")));
    {
        TRACE_CAPTURE trace;
        EXPECT_THROW(
            {
                for (int i = 0; i < 50; ++i) {
                    SocketWaitReadable(second->m_Socket, 100);
                    s.server.Process();
                }
            },
            RXExs);
        const std::vector<std::string> lines = trace.LogLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2].rfind("NET_SERVER::ProcessConnects\t|", 0), 0u);
        EXPECT_EQ(lines.back().rfind("NET_SERVER::Process\t|", 0), 0u);
    }
    ASSERT_EQ(s.server.m_Connects.Count(), 1u);
    EXPECT_EQ(s.server.m_Connects[0], second);
    EXPECT_TRUE(WaitPeerClosed(a.Get(), 2000));
    second->m_pReceiver = nullptr;

    // A handler that fails still leaves the new connection listed.
    s.handler.fail = true;
    SOCKET_HOLDER c(ConnectLoopback(s.port));
    TRACE_CAPTURE trace;
    SocketWaitReadable(s.server.m_Socket, 2000);
    EXPECT_THROW(s.server.Process(), RXExs);
    EXPECT_EQ(s.server.m_Connects.Count(), 2u);
    const std::vector<std::string> lines = trace.LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].rfind("NET_SERVER::ProcessNewConnect\t|", 0), 0u);
}

#ifndef _WIN32
// Descriptor numbers above 1023 break select(); the server must not care.
TEST(NetServer, ServesAClientWhileHoldingOver1100Descriptors)
{
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t wanted = 1400;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        GTEST_SKIP() << "descriptor hard limit " << limit.rlim_max << " is below " << wanted;
    const rlimit saved = limit;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    std::vector<int> filler;
    for (int i = 0; i < 1100; ++i) {
        const int fd = open("/dev/null", O_RDONLY);
        ASSERT_GE(fd, 0);
        filler.push_back(fd);
    }
    {
        LOOPBACK_SERVER s;
        ASSERT_TRUE(s.Start());
        EXPECT_GE(s.server.m_Socket, 1024);
        NET_CLIENT client;
        ASSERT_TRUE(client.Init());
        ASSERT_TRUE(client.Connect("127.0.0.1", s.port));
        s.StepWhenPending();
        ASSERT_EQ(s.server.m_Connects.Count(), 1u);
        NET_CONNECT* served = s.server.m_Connects[0];
        EXPECT_GE(served->m_Socket, 1024);
        served->Send_iMsg(300, "big fd", 6);
        MESSAGE_RECORDER receiver;
        client.m_pConnect->m_pReceiver = &receiver;
        s.server.Process();
        EXPECT_TRUE(client.m_pConnect->ProcessDoTransfercomplete(5000));
        ASSERT_EQ(receiver.m_Messages.size(), 1u);
        EXPECT_EQ(receiver.m_Messages[0].body, "big fd");
    }
    for (int fd : filler)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
}
#endif
