// WebFetch through WinHTTP against a scripted loopback origin: the bytes delivered, where
// each delivery started, and what went out on the wire.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/web_fetch.h"
#include "platform/clock.h"
#include "platform/socket_poll.h"
#include "support/http_script_server.h"

namespace {

using STEP = HTTP_SCRIPT_SERVER::STEP;
using SCRIPT = std::vector<STEP>;

// Answers its connections in order, one script each, then closes each connection: a
// script that sends less than its head announced is a cut.
class ORIGIN {
public:
    explicit ORIGIN(std::vector<SCRIPT> answers) : m_Answers(std::move(answers))
    {
        m_Listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof(at);
        if (bind(m_Listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)) == 0 && listen(m_Listener, 8) == 0 &&
            getsockname(m_Listener, reinterpret_cast<sockaddr*>(&at), &len) == 0)
            m_iPort = ntohs(at.sin_port);
        m_Thread = std::thread([this] { Run(); });
    }
    ~ORIGIN()
    {
        Requests();
        closesocket(m_Listener);
    }
    int Port() const { return m_iPort; }
    // Ends the origin and gives the request heads, one per connection.
    const std::vector<std::string>& Requests()
    {
        m_bStop = true;
        if (m_Thread.joinable())
            m_Thread.join();
        return m_Requests;
    }

private:
    bool Wait(SOCKET s, uint64_t ms)
    {
        for (const uint64_t end = MonotonicMs() + ms; !m_bStop && MonotonicMs() < end;)
            if (SocketWaitReadable(s, 20) == 1)
                return true;
        return false;
    }
    void Run()
    {
        for (const SCRIPT& script : m_Answers) {
            if (!Wait(m_Listener, 20000))
                return;
            SOCKET s = accept(m_Listener, nullptr, nullptr);
            std::string head;
            char block[4096];
            int n = 1;
            while (head.find("\r\n\r\n") == std::string::npos && n > 0 && Wait(s, 10000))
                if ((n = recv(s, block, sizeof(block), 0)) > 0)
                    head.append(block, static_cast<size_t>(n));
            m_Requests.push_back(head);
            for (STEP step : script) {
                if (step.delayMs > 0 && Wait(s, static_cast<uint64_t>(step.delayMs)))
                    break;  // the client closed (or cancelled) during the wait
                for (size_t at; (at = step.bytes.find("PORT")) != std::string::npos;)
                    step.bytes.replace(at, 4, std::to_string(m_iPort));
                if (m_bStop || send(s, step.bytes.data(), static_cast<int>(step.bytes.size()), 0) < 0)
                    break;
            }
            shutdown(s, SD_SEND);
            Wait(s, 2000);
            closesocket(s);
        }
    }

    std::vector<SCRIPT> m_Answers;
    SOCKET m_Listener = INVALID_SOCKET;
    int m_iPort = 0;
    std::atomic<bool> m_bStop{false};
    std::vector<std::string> m_Requests;
    std::thread m_Thread;
};

class SINK : public WEB_FETCH_SINK {
public:
    bool OnStart(uint64_t start, uint64_t total) override
    {
        starts.push_back(start);
        totals.push_back(total);
        bytes.clear();
        return true;
    }
    bool OnData(const void* data, size_t size) override
    {
        bytes.append(static_cast<const char*>(data), size);
        lastData = MonotonicMs();
        return bytes.size() < cancelAt;
    }
    bool KeepGoing() override
    {
        const uint64_t now = MonotonicMs();
        if (last != 0 && now - last > longestGap)
            longestGap = now - last;
        last = now;
        return !(stopWhenQuiet && !bytes.empty() && now - lastData >= 300);
    }

    size_t cancelAt = SIZE_MAX;
    bool stopWhenQuiet = false;  // KeepGoing false once data came and then none for 300 ms
    std::vector<uint64_t> starts, totals;
    std::string bytes;
    uint64_t last = 0, longestGap = 0, lastData = 0;
};

std::string Body()
{
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

std::string Head(const std::string& status, const std::string& fields)
{
    return "HTTP/1.1 " + status + "\r\n" + fields + "Connection: close\r\n\r\n";
}

std::string Whole(const std::string& body)
{
    return Head("200 OK", "Content-Length: " + std::to_string(body.size()) + "\r\n") + body;
}

std::string From(const std::string& body, size_t first, size_t where)
{
    return Head("206 Partial Content", "Content-Length: " + std::to_string(body.size() - first) +
                                           "\r\nContent-Range: bytes " + std::to_string(where) + "-" +
                                           std::to_string(where + body.size() - first - 1) + "/" +
                                           std::to_string(body.size()) + "\r\n") +
           body.substr(first);
}

std::string Redirect(const std::string& code, const std::string& location)
{
    return Head(code + " Moved", "Location: " + location + "\r\nContent-Length: 0\r\n");
}

} // namespace

TEST(WebFetchWinHttp, DeliversTheRightBytesFromTheRightOffset)
{
    enum STOP { kNever, kKeepGoing, kOnData };
    struct CASE {
        const char* name;
        uint64_t resumeFrom;
        std::vector<SCRIPT> answers;  // one per connection; "PORT" stands for the origin's port
        WEB_FETCH_RESULT result;
        std::vector<uint64_t> starts;
        std::string delivered;        // the bytes after the last start
        uint64_t total;
        std::vector<std::string> wire;  // each request: its path and its Range
        const char* reason;
        STOP stop;
    };
    const std::string body = Body();
    const std::string chunked = Head("200 OK", "Transfer-Encoding: chunked\r\n") + "1000\r\n" +
                                body.substr(0, 4096) + "\r\n0\r\n\r\n";
    const std::string half = Whole(body).substr(0, 150000), rest = body.substr(1000);
    const std::string no = Head("416 Range Not Satisfiable", "Content-Length: 0\r\n");
    const std::vector<SCRIPT> sixRedirects(6, SCRIPT{{0, Redirect("302", "/a")}});
    using R = WEB_FETCH_RESULT;
    const CASE cases[] = {
        {"whole", 0, {{{0, Whole(body)}}}, R::Done, {0}, body, body.size(), {"/a "}, "", kNever},
        {"206 from the offset goes on", 1000, {{{0, From(body, 1000, 1000)}}}, R::Done, {1000}, rest, body.size(),
         {"/a bytes=1000-"}, "", kNever},
        {"200 to a range starts over", 1000, {{{0, Whole(body)}}}, R::Done, {0}, body, body.size(),
         {"/a bytes=1000-"}, "", kNever},
        {"416: once more without a range", 300000, {{{0, no}}, {{0, Whole(body)}}}, R::Done, {0}, body, body.size(),
         {"/a bytes=300000-", "/a "}, "", kNever},
        {"206 from elsewhere: once more", 1000, {{{0, From(body, 0, 0)}}, {{0, Whole(body)}}}, R::Done, {0}, body,
         body.size(), {"/a bytes=1000-", "/a "}, "", kNever},
        {"416 to the plain request fails", 1000, {{{0, no}}, {{0, no}}}, R::Failed, {}, "", 0,
         {"/a bytes=1000-", "/a "}, "the range answered is not the one asked", kNever},
        {"redirects keep the range", 1000,
         {{{0, Redirect("302", "b/c?x=1")}},
          {{0, Redirect("301", "http://127.0.0.1:PORT/d")}},
          {{0, Redirect("307", "//127.0.0.1:PORT/e")}},
          {{0, From(body, 1000, 1000)}}},
         R::Done, {1000}, rest, body.size(), {"/a bytes=1000-", "/b/c?x=1 bytes=1000-", "/d bytes=1000-", "/e bytes=1000-"},
         "", kNever},
        {"six redirects are one too many", 0, sixRedirects, R::Failed, {}, "", 0, {"/a ", "/a ", "/a ", "/a ", "/a ", "/a "},
         "more than 5 redirects", kNever},
        {"a chunked body", 0, {{{0, chunked}}}, R::Done, {0}, body.substr(0, 4096), 0, {"/a "}, "", kNever},
        {"404", 0, {{{0, Head("404 Not Found", "Content-Length: 3\r\n") + "no!"}}}, R::Failed, {}, "", 0, {"/a "},
         "HTTP 404", kNever},
        {"a cut connection", 0, {{{0, half}}}, R::Failed, {0}, "", 0, {"/a "}, "cut after", kNever},
        {"a stall", 0, {{{0, half}, {4000, "late"}}}, R::Failed, {0}, "", 0, {"/a "}, "stalled", kNever},
        {"KeepGoing false during a stall", 0, {{{0, half}, {4000, "late"}}}, R::Cancelled, {0}, "", 0, {"/a "}, "",
         kKeepGoing},
        {"OnData false", 0, {{{0, Whole(body)}}}, R::Cancelled, {0}, "", 0, {"/a "}, "", kOnData},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        ORIGIN server(c.answers);
        WEB_FETCH_OPTIONS options;
        options.resumeFrom = c.resumeFrom;
        options.stallTimeoutMs = 1000;
        SINK sink;
        sink.stopWhenQuiet = c.stop == kKeepGoing;
        sink.cancelAt = c.stop == kOnData ? 1 : SIZE_MAX;
        std::string reason;
        const uint64_t began = MonotonicMs();
        EXPECT_EQ(WebFetch("http://127.0.0.1:" + std::to_string(server.Port()) + "/a", options, &sink, &reason),
                  c.result)
            << reason;
        EXPECT_LT(MonotonicMs() - began, c.stop == kKeepGoing ? 900u : 5000u);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(sink.starts, c.starts);
        // Whatever came is the body's from where it started.
        if (!sink.starts.empty()) {
            EXPECT_EQ(body.compare(sink.starts.back(), sink.bytes.size(), sink.bytes), 0);
        }
        if (c.result == R::Done) {
            EXPECT_TRUE(sink.bytes == c.delivered) << sink.bytes.size() << " bytes";
            EXPECT_EQ(sink.totals, std::vector<uint64_t>{c.total});
        }
        EXPECT_LE(sink.longestGap, 500u);
        std::vector<std::string> wire;
        for (const std::string& head : server.Requests()) {
            const size_t range = head.find("\r\nRange: bytes=");
            wire.push_back(head.substr(4, head.find(" HTTP/1.1\r\n") - 4) + " " +
                           (range == std::string::npos ? "" : head.substr(range + 9, head.find("\r\n", range + 2) - range - 9)));
        }
        EXPECT_EQ(wire, c.wire);
    }
}

TEST(WebFetchWinHttp, RefusesWhatItCannotFetch)
{
    struct CASE {
        std::string url;
        WEB_FETCH_OPTIONS options;
        const char* reason;
    };
    WEB_FETCH_OPTIONS withCa;
    withCa.caFile = "ca.pem";
    const CASE cases[] = {
        {"http://127.0.0.1:" + std::to_string(RefusedLoopbackPort()) + "/a", {}, "cannot connect"},
        {"ftp://127.0.0.1/a", {}, "not an http:// or https:// address"},
        {"https://127.0.0.1:1/a", withCa, "not supported on Windows"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.url);
        SINK sink;
        std::string reason;
        EXPECT_EQ(WebFetch(c.url, c.options, &sink, &reason), WEB_FETCH_RESULT::Failed);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_TRUE(sink.starts.empty());
    }
}
#endif
