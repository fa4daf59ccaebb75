// WebFetch against scripted loopback peers: what goes on the wire (the Range asked), what
// the sink is told (where the bytes start), and how each answer ends the fetch.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "net/web_fetch.h"
#include "support/http_script_server.h"

namespace {

using STEP = HTTP_SCRIPT_SERVER::STEP;

struct RECORDING_SINK : WEB_FETCH_SINK {
    std::vector<std::pair<uint64_t, uint64_t>> starts;
    std::string body;
    bool cancelOnData = false;
    bool refuseData = false;
    bool cancelled = false;

    bool OnStart(uint64_t start, uint64_t total) override
    {
        starts.emplace_back(start, total);
        return true;
    }
    bool OnData(const void* data, size_t size) override
    {
        body.append(static_cast<const char*>(data), size);
        cancelled = cancelled || cancelOnData;
        return !refuseData;
    }
    bool KeepGoing() override { return !cancelled; }
};

std::string Url(int port, const std::string& path = "/objects/ab")
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string Head(const std::string& status, const std::string& fields)
{
    return "HTTP/1.1 " + status + "\r\n" + fields + "\r\n";
}

std::string Redirect(const std::string& status, const std::string& location)
{
    return Head(status, "Location: " + location + "\r\nContent-Length: 0\r\n");
}

std::string Partial(const std::string& range, const std::string& body)
{
    return Head("206 Partial Content", "Content-Range: bytes " + range + "\r\nContent-Length: " +
                                           std::to_string(body.size()) + "\r\n") + body;
}

// The answers to a resumed (or fresh) request and what the sink sees of them.
struct STATUS_CASE {
    const char* name;
    uint64_t resumeFrom;
    std::vector<std::string> answers; // one per connection
    WEB_FETCH_RESULT result;
    std::vector<std::pair<uint64_t, uint64_t>> starts;
    std::string body;
    std::vector<std::string> ranges; // the Range asked on each connection ("" none)
    const char* reason;
};

std::string RangeAsked(const std::string& request)
{
    const size_t at = request.find("\r\nRange: ");
    if (at == std::string::npos)
        return "";
    return request.substr(at + 9, request.find("\r\n", at + 2) - at - 9);
}

// A peer answering each connection in turn with one of answers.
std::unique_ptr<HTTP_SCRIPT_SERVER> Peer(const std::vector<std::string>& answers)
{
    std::vector<std::vector<STEP>> scripts;
    for (const std::string& answer : answers)
        scripts.push_back({{0, answer}});
    return std::make_unique<HTTP_SCRIPT_SERVER>(scripts);
}

} // namespace

TEST(WebFetch, AnswersToARangeDecideWhereTheBytesStart)
{
    const std::string file = "0123456789";
    const STATUS_CASE cases[] = {
        {"whole file", 0, {HttpResponse(file)}, WEB_FETCH_RESULT::Done, {{0, 10}}, file, {""}, ""},
        {"206 where asked", 4, {Partial("4-9/10", "456789")}, WEB_FETCH_RESULT::Done, {{4, 10}}, "456789",
         {"bytes=4-"}, ""},
        {"206 of unknown length", 4, {Partial("4-9/*", "456789")}, WEB_FETCH_RESULT::Done, {{4, 0}}, "456789",
         {"bytes=4-"}, ""},
        {"200 ignoring the range", 4, {HttpResponse(file)}, WEB_FETCH_RESULT::Done, {{0, 10}}, file, {"bytes=4-"},
         ""},
        {"416: once more without a range", 12, {HttpResponse("", "416 Range Not Satisfiable"), HttpResponse(file)},
         WEB_FETCH_RESULT::Done, {{0, 10}}, file, {"bytes=12-", ""}, ""},
        {"206 elsewhere: once more without a range", 4, {Partial("0-9/10", file), HttpResponse(file)},
         WEB_FETCH_RESULT::Done, {{0, 10}}, file, {"bytes=4-", ""}, ""},
        {"416 twice", 12,
         {HttpResponse("", "416 Range Not Satisfiable"), HttpResponse("", "416 Range Not Satisfiable")},
         WEB_FETCH_RESULT::Failed, {}, "", {"bytes=12-", ""}, "the range answered is not the one asked"},
        {"cut short", 0, {Head("200 OK", "Content-Length: 10\r\n") + "012"}, WEB_FETCH_RESULT::Failed, {{0, 10}},
         "012", {""}, ""},
        {"not found", 0, {HttpResponse("gone", "404 Not Found")}, WEB_FETCH_RESULT::Failed, {}, "", {""},
         "HTTP 404"},
        {"server error on a resume", 4, {HttpResponse("busy", "503 Service Unavailable")},
         WEB_FETCH_RESULT::Failed, {}, "", {"bytes=4-"}, "HTTP 503"},
    };
    for (const STATUS_CASE& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<HTTP_SCRIPT_SERVER> peer = Peer(c.answers);
        HTTP_SCRIPT_SERVER& server = *peer;
        RECORDING_SINK sink;
        WEB_FETCH_OPTIONS options;
        options.resumeFrom = c.resumeFrom;
        std::string reason;
        const WEB_FETCH_RESULT result = WebFetch(Url(server.Port()), options, &sink, &reason);
        EXPECT_EQ(result, c.result) << reason;
        EXPECT_EQ(sink.starts, c.starts);
        EXPECT_EQ(sink.body, c.body);
        if (*c.reason != '\0') {
            EXPECT_EQ(reason, c.reason);
        }
        server.Join();
        ASSERT_EQ(server.Requests().size(), c.ranges.size());
        for (size_t i = 0; i < c.ranges.size(); ++i) {
            EXPECT_EQ(server.Requests()[i].compare(0, 18, "GET /objects/ab HT"), 0) << server.Requests()[i];
            EXPECT_EQ(RangeAsked(server.Requests()[i]), c.ranges[i]);
        }
    }
}

TEST(WebFetch, RedirectsAreFollowedUpToTheLimit)
{
    const auto target = Peer({HttpResponse("moved here")});
    const std::string to = Url(target->Port(), "/elsewhere/ab");
    // A relative Location goes on at the same peer.
    const auto peer = Peer({Redirect("302 Found", "/b/ab"), Redirect("301 Moved Permanently", to)});
    HTTP_SCRIPT_SERVER& relative = *peer;
    RECORDING_SINK sink;
    WEB_FETCH_OPTIONS options;
    std::string reason;
    const WEB_FETCH_RESULT result = WebFetch(Url(relative.Port()), options, &sink, &reason);
    EXPECT_EQ(result, WEB_FETCH_RESULT::Done) << reason;
    EXPECT_EQ(sink.body, "moved here");
    relative.Join();
    ASSERT_EQ(relative.Requests().size(), 2u);
    EXPECT_EQ(relative.Requests()[1].compare(0, 12, "GET /b/ab HT"), 0);

    // The same two hops with a limit of one.
    const auto again = Peer({Redirect("302 Found", "/b/ab"), Redirect("307 Temporary Redirect", "/c")});
    RECORDING_SINK none;
    options.maxRedirects = 1;
    EXPECT_EQ(WebFetch(Url(again->Port()), options, &none, &reason), WEB_FETCH_RESULT::Failed);
    EXPECT_EQ(reason, "more than 1 redirects");
    EXPECT_TRUE(none.starts.empty());

    const auto odd = Peer({Redirect("302 Found", "ftp://127.0.0.1/ab")});
    EXPECT_EQ(WebFetch(Url(odd->Port()), WEB_FETCH_OPTIONS(), &none, &reason), WEB_FETCH_RESULT::Failed);
    EXPECT_EQ(reason, "redirected to something other than http:// or https://");
}

TEST(WebFetch, EveryWaitIsBoundedAndCancelStops)
{
    const std::string head = Head("200 OK", "Content-Length: 10\r\n");
    struct BOUND_CASE {
        const char* name;
        bool cancelOnData;
        bool refuseData;
        WEB_FETCH_RESULT result;
        const char* reason;
    } cases[] = {
        {"silent after 3 bytes", false, false, WEB_FETCH_RESULT::Failed, "stalled"},
        {"KeepGoing false", true, false, WEB_FETCH_RESULT::Cancelled, nullptr},
        {"OnData false", false, true, WEB_FETCH_RESULT::Cancelled, nullptr},
    };
    for (const BOUND_CASE& c : cases) {
        SCOPED_TRACE(c.name);
        HTTP_SCRIPT_SERVER server(std::vector<std::vector<STEP>>{{{0, head + "012"}, {5000, "3456789"}}});
        RECORDING_SINK sink;
        sink.cancelOnData = c.cancelOnData;
        sink.refuseData = c.refuseData;
        WEB_FETCH_OPTIONS options;
        options.stallTimeoutMs = 300;
        std::string reason;
        const auto began = std::chrono::steady_clock::now();
        const WEB_FETCH_RESULT result = WebFetch(Url(server.Port()), options, &sink, &reason);
        EXPECT_EQ(result, c.result) << reason;
        if (c.reason != nullptr) {
            EXPECT_EQ(reason, c.reason);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(3000));
        EXPECT_EQ(sink.body, "012");
    }

    RECORDING_SINK sink;
    std::string reason;
    EXPECT_EQ(WebFetch(Url(RefusedLoopbackPort()), WEB_FETCH_OPTIONS(), &sink, &reason), WEB_FETCH_RESULT::Failed);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(WebFetch("file:///etc/passwd", WEB_FETCH_OPTIONS(), &sink, &reason), WEB_FETCH_RESULT::Failed);
    EXPECT_EQ(reason, "not an http:// or https:// address");
    EXPECT_TRUE(sink.starts.empty());
}
