#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/rx_http_browser.h"
#include "platform/clock.h"
#include "support/http_script_server.h"
#include "support/trace_capture.h"

// Against a scripted HTTP peer on loopback: the exact bytes on the wire, and what is kept
// of each kind of response. These run natively and under Wine.

namespace {

using STEPS = std::vector<HTTP_SCRIPT_SERVER::STEP>;

// The browser is 128 KB: on the heap.
std::unique_ptr<RX_HTTP_BROWSER> BrowserFor(int port)
{
    auto browser = std::make_unique<RX_HTTP_BROWSER>();
    browser->m_iPort = port;
    browser->Init("127.0.0.1");
    return browser;
}

std::string Received(const RX_HTTP_BROWSER& b)
{
    return std::string(b.m_RecvBuf, static_cast<size_t>(b.m_iRecvSize));
}

} // namespace

TEST(RxHttpBrowser, RequestBytesOnTheWireEndInOneZeroByte)
{
    struct CASE {
        const char* name;
        const char* head;
        const char* body;
        std::string wire;
    };
    const std::string head = "POST /velgrim/list HTTP/1.1\r\nHost: 127.0.0.1 \r\n";
    const CASE cases[] = {
        {"no body", head.c_str(), nullptr, head + "\r\n" + std::string(1, '\0')},
        {"body", head.c_str(), "a=1&b=22",
         head + "Content-Length: 8\r\n\r\na=1&b=22" + std::string(1, '\0')},
        {"empty body", head.c_str(), "", head + "Content-Length: 0\r\n\r\n" + std::string(1, '\0')},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        HTTP_SCRIPT_SERVER server({{0, HttpResponse("ok")}});
        auto browser = BrowserFor(server.Port());
        ASSERT_TRUE(browser->Send(c.head, c.body));
        server.Join();
        EXPECT_EQ(server.Request(), c.wire);
        EXPECT_EQ(Received(*browser), HttpResponse("ok"));
        const char* body = browser->GetRecvData();
        ASSERT_NE(body, nullptr);
        EXPECT_STREQ(body, "ok");
        EXPECT_EQ(browser->m_iBodySize, 2);
        // The exchange closed its socket.
        EXPECT_EQ(browser->m_Socket, INVALID_SOCKET);
        EXPECT_FALSE(browser->m_bConnected);
    }
}

TEST(RxHttpBrowser, KeepsTheHeadAndWhatContentLengthAnnounces)
{
    struct CASE {
        const char* name;
        STEPS script;
        std::string kept;        // m_RecvBuf[0, m_iRecvSize)
        const char* body;        // GetRecvData, or null
        bool stopsBeforeTheEnd;  // the browser closed before the script was played through
    };
    const std::string head10 = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
    const std::string head5 = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
    const CASE cases[] = {
        {"whole response in the first block", {{0, HttpResponse("abc")}, {10000, "late"}}, HttpResponse("abc"),
         "abc", true},
        {"body in several blocks, completed by Content-Length",
         {{0, head10 + "012"}, {200, "3456"}, {200, "789"}, {10000, "late"}},
         head10 + "0123456789",
         "0123456789",
         true},
        {"lower-case header name counts",
         {{0, "HTTP/1.1 200 OK\r\ncontent-length: 10\r\n\r\n01234"}, {200, "56789"}, {10000, "late"}},
         "HTTP/1.1 200 OK\r\ncontent-length: 10\r\n\r\n0123456789",
         "0123456789",
         true},
        {"header cut by the first block: the head is completed",
         {{0, "HTTP/1.1 200 OK\r\nContent-Len"}, {200, "gth: 10\r\n\r\n0123456789"}, {10000, "late"}},
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789",
         "0123456789",
         true},
        {"header name at the very end of the first block",
         {{0, "HTTP/1.1 200 OK\r\nContent-Length:"}, {200, " 5\r\n\r\nabcde"}, {10000, "late"}},
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde",
         "abcde",
         true},
        {"body longer than announced: later block", {{0, head5}, {200, "0123456789"}, {10000, "EXTRA"}},
         head5 + "01234", "01234", true},
        {"body longer than announced: first block",
         {{0, HttpResponse("abc") + "HTTP/1.1 400 Bad Request\r\n\r\n"}, {10000, "late"}}, HttpResponse("abc"),
         "abc", true},
        {"Content-Length: inside the body counts for nothing",
         {{0, "HTTP/1.1 200 OK\r\n\r\nContent-Length: 3\r\nabcdef"}, {10000, "late"}},
         "HTTP/1.1 200 OK\r\n\r\nContent-Length: 3\r\nabcdef",
         "Content-Length: 3\r\nabcdef",
         true},
        {"no Content-Length: the first block only",
         {{0, "HTTP/1.1 200 OK\r\n\r\nab"}, {10000, "cd"}},
         "HTTP/1.1 200 OK\r\n\r\nab",
         "ab",
         true},
        {"peer closes before the announced end",
         {{0, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"}, {100, "def"}},
         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabcdef",
         "abcdef",
         false},
        {"peer closes without answering", {}, "", nullptr, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        HTTP_SCRIPT_SERVER server(c.script);
        auto browser = BrowserFor(server.Port());
        ASSERT_TRUE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
        server.Join();
        EXPECT_EQ(Received(*browser), c.kept);
        EXPECT_EQ(browser->m_RecvBuf[browser->m_iRecvSize], '\0');
        const char* body = browser->GetRecvData();
        if (c.body == nullptr) {
            EXPECT_EQ(body, nullptr);
            EXPECT_EQ(browser->m_iBodySize, 0);
        } else {
            ASSERT_NE(body, nullptr);
            EXPECT_EQ(std::string(body, static_cast<size_t>(browser->m_iBodySize)), c.body);
        }
        EXPECT_EQ(server.ClientClosedEarly(), c.stopsBeforeTheEnd);
    }
}

// However the head is cut into blocks, the body is counted from its start and arrives whole.
TEST(RxHttpBrowser, AHeadInPiecesGivesTheWholeBody)
{
    const std::string response = HttpResponse("0123456789");
    const size_t headEnd = response.find("\r\n\r\n") + 4;
    for (size_t cut = 1; cut < headEnd; ++cut) {
        SCOPED_TRACE(cut);
        HTTP_SCRIPT_SERVER server({{0, response.substr(0, cut)}, {20, response.substr(cut)}});
        auto browser = BrowserFor(server.Port());
        ASSERT_TRUE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
        server.Join();
        const char* body = browser->GetRecvData();
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(std::string(body, static_cast<size_t>(browser->m_iBodySize)), "0123456789");
        EXPECT_TRUE(browser->BodyComplete());
    }
}

TEST(RxHttpBrowser, ResponseBeyondTheBufferStaysTerminated)
{
    const std::string body(200000, 'x');
    HTTP_SCRIPT_SERVER server({{0, HttpResponse(body)}});
    auto browser = BrowserFor(server.Port());
    std::memset(browser->m_RecvBuf, 'y', sizeof(browser->m_RecvBuf));
    ASSERT_TRUE(browser->Send("GET /big HTTP/1.1\r\n", nullptr));
    EXPECT_EQ(browser->m_iRecvSize, RX_HTTP_BROWSER::kRecvBufSize - 1);
    EXPECT_EQ(browser->m_RecvBuf[RX_HTTP_BROWSER::kRecvBufSize - 1], '\0');
    EXPECT_EQ(std::strlen(browser->m_RecvBuf), static_cast<size_t>(RX_HTTP_BROWSER::kRecvBufSize - 1));
    ASSERT_NE(browser->GetRecvData(), nullptr);
    const int headSize = static_cast<int>(HttpResponse(body).size() - body.size());
    EXPECT_EQ(browser->m_iBodySize, RX_HTTP_BROWSER::kRecvBufSize - 1 - headSize);
}

TEST(RxHttpBrowser, LargeRequestArrivesWhole)
{
    // Far more than the socket buffers take at once, so sends come back short.
    std::string body(8 * 1024 * 1024, 'r');
    for (size_t i = 0; i < body.size(); i += 4096)
        body[i] = static_cast<char>('a' + (i / 4096) % 26);
    HTTP_SCRIPT_SERVER server({{0, HttpResponse("done")}});
    auto browser = BrowserFor(server.Port());
    TRACE_CAPTURE trace;
    ASSERT_TRUE(browser->Send("PUT /big HTTP/1.1\r\n", body.c_str()));
    server.Join();
    const std::string wire = "PUT /big HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n" + body + std::string(1, '\0');
    EXPECT_EQ(server.Request().size(), wire.size());
    EXPECT_TRUE(server.Request() == wire);
    EXPECT_TRUE(trace.ErrorTexts().empty());
    ASSERT_NE(browser->GetRecvData(), nullptr);
    EXPECT_STREQ(browser->GetRecvData(), "done");
}

TEST(RxHttpBrowser, GetRecvDataFindsTheFirstBlankLine)
{
    struct CASE {
        std::string response;
        int offset;  // of the body, -1 for none
        int bodySize;
    };
    const CASE cases[] = {
        {"status\r\n\r\nabc", 10, 3},
        {"status\r\nno blank line\r\n", -1, 0},
        {"\r\n\r\n", 4, 0},
        {"head\r\n\r\nbody\r\n\r\nmore", 8, 12},
        {"cut\r\n\r", -1, 0},
        {"", -1, 0},
    };
    auto browser = std::make_unique<RX_HTTP_BROWSER>();
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.response);
        std::memcpy(browser->m_RecvBuf, c.response.c_str(), c.response.size() + 1);
        browser->m_iRecvSize = static_cast<int>(c.response.size());
        browser->m_iBodySize = 12345;
        const char* body = browser->GetRecvData();
        if (c.offset < 0)
            EXPECT_EQ(body, nullptr);
        else
            EXPECT_EQ(body, browser->m_RecvBuf + c.offset);
        EXPECT_EQ(browser->m_iBodySize, c.bodySize);
    }
}

TEST(RxHttpBrowser, FailuresReportTheirExactLines)
{
    // No Init: no host, no connection, no line; the buffer keeps what it held.
    {
        TRACE_CAPTURE trace;
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        std::strcpy(browser->m_RecvBuf, "previous");
        browser->m_iRecvSize = 8;
        EXPECT_FALSE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
        EXPECT_STREQ(browser->m_RecvBuf, "previous");
        EXPECT_EQ(browser->m_iRecvSize, 8);
        EXPECT_TRUE(trace.m_Entries.empty());
    }
    // Nothing listens: the connect fails with its line and the file it comes from.
    {
        TRACE_CAPTURE trace;
        auto browser = BrowserFor(RefusedLoopbackPort());
        EXPECT_FALSE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
        ASSERT_EQ(trace.ErrorTexts(), std::vector<std::string>{"error connect to:127.0.0.1"});
        EXPECT_EQ(trace.m_Entries[0].file, "net/rx_http_browser.cpp");
        EXPECT_FALSE(browser->m_bConnected);
    }
    // A name that does not resolve: false, and no line.
    {
        TRACE_CAPTURE trace;
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        browser->Init("no-such-host.invalid");
        EXPECT_FALSE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
        EXPECT_TRUE(trace.ErrorTexts().empty());
    }
    // Sending or receiving without a connection.
    {
        TRACE_CAPTURE trace;
        auto browser = std::make_unique<RX_HTTP_BROWSER>();
        const char request[] = "GET / HTTP/1.1\r\n\r\n";
        browser->NetSend(request, sizeof(request));
        EXPECT_EQ(browser->NetRecv(browser->m_RecvBuf, 100), -1);
        EXPECT_EQ(trace.ErrorTexts(), (std::vector<std::string>{
                                          "error send to: not connection:(null)   GET / HTTP/1.1\r\n\r\n",
                                          "error recv: not connection:(null)",
                                      }));
    }
}

TEST(RxHttpBrowser, FailedSendReportsHostAndRequest)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t len = sizeof(at);
    getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len);

    auto browser = std::make_unique<RX_HTTP_BROWSER>();
    ASSERT_TRUE(browser->NetInit());
    ASSERT_TRUE(browser->NetConnect("127.0.0.1", ntohs(at.sin_port)));
    ASSERT_EQ(SocketWaitReadable(listener, 5000), 1);
    SOCKET peer = accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    // The peer resets the connection; the browser's next send fails.
    linger reset{};
    reset.l_onoff = 1;
    reset.l_linger = 0;
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof(reset));
    closesocket(peer);
    closesocket(listener);
    ASSERT_EQ(SocketWaitReadable(browser->m_Socket, 5000), 1);

    TRACE_CAPTURE trace;
    const char request[] = "GET /x HTTP/1.1\r\n\r\n";
    browser->NetSend(request, sizeof(request));
    EXPECT_EQ(trace.ErrorTexts(), std::vector<std::string>{"error send to:127.0.0.1   GET /x HTTP/1.1\r\n\r\n\n"});
}

TEST(RxHttpBrowser, SilentServerIsGivenUpInBoundedTime)
{
    // Accepts, reads the request and never answers.
    HTTP_SCRIPT_SERVER server({{60000, ""}});
    auto browser = BrowserFor(server.Port());
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(browser->Send("GET / HTTP/1.1\r\n", nullptr));
    EXPECT_LT(MonotonicMs() - start, 15000u);
    EXPECT_EQ(browser->m_iRecvSize, 0);
    EXPECT_EQ(browser->m_RecvBuf[0], '\0');
    browser.reset();
    server.Join();
    EXPECT_TRUE(server.ClientClosedEarly());
}
