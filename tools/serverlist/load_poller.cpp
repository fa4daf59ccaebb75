#include "serverlist/load_poller.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/socket_poll.h"

namespace {

// A load line answer is a few dozen bytes; anything much longer is not one.
const size_t kMaxResponse = 4096;

enum STAGE { STAGE_CONNECTING, STAGE_READING, STAGE_DONE };

struct QUERY {
    SOCKET s = INVALID_SOCKET;
    STAGE stage = STAGE_DONE;
    std::string request;
    std::string response;
};

// What a host sent, for the log: printable ASCII as it is, every other byte as \xNN.
std::string Quoted(const std::string& bytes, size_t most)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

std::string ErrorText(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

void Finish(QUERY& q, HOST_POLL& poll, const std::string& problem)
{
    if (q.s != INVALID_SOCKET)
        closesocket(q.s);
    q.s = INVALID_SOCKET;
    q.stage = STAGE_DONE;
    if (!problem.empty()) {
        poll.problem = problem;
        return;
    }
    poll.answered = ReadLoadResponse(q.response, &poll.load, &poll.problem);
    poll.garbled = !poll.answered;
}

void Start(const FLEET_HOST& host, QUERY& q, HOST_POLL& poll)
{
    sockaddr_in where;
    std::memset(&where, 0, sizeof(where));
    where.sin_family = AF_INET;
    where.sin_port = htons(host.statusPort);
    inet_pton(AF_INET, host.statusAddress.c_str(), &where.sin_addr);
    q.request = "GET /load HTTP/1.1\r\nHost: " + host.statusAddress + ":" + std::to_string(host.statusPort) +
                "\r\nConnection: close\r\n\r\n";
    q.s = socket(AF_INET, SOCK_STREAM, 0);
    if (q.s == INVALID_SOCKET || !SocketSetNonBlocking(q.s, true)) {
        Finish(q, poll, ErrorText("socket", WSAGetLastError()));
        return;
    }
    q.stage = STAGE_CONNECTING;
    if (connect(q.s, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0 &&
        WSAGetLastError() != WSAEINPROGRESS && WSAGetLastError() != WSAEWOULDBLOCK)
        Finish(q, poll, ErrorText("connect", WSAGetLastError()));
}

void Advance(QUERY& q, HOST_POLL& poll)
{
    if (q.stage == STAGE_CONNECTING) {
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(q.s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
            error = WSAGetLastError();
        if (error != 0) {
            Finish(q, poll, ErrorText("connect", error));
            return;
        }
        // A few dozen bytes: the new socket's buffer takes them whole.
        if (send(q.s, q.request.data(), static_cast<int>(q.request.size()), 0) != static_cast<int>(q.request.size())) {
            Finish(q, poll, ErrorText("send", WSAGetLastError()));
            return;
        }
        q.stage = STAGE_READING;
        return;
    }
    char buffer[1024];
    const int got = static_cast<int>(recv(q.s, buffer, sizeof(buffer), 0));
    if (got == 0) {
        Finish(q, poll, "");
    } else if (got < 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK && WSAGetLastError() != WSAEINTR)
            Finish(q, poll, ErrorText("receive", WSAGetLastError()));
    } else {
        q.response.append(buffer, static_cast<size_t>(got));
        if (q.response.size() > kMaxResponse)
            Finish(q, poll, "answer longer than " + std::to_string(kMaxResponse) + " bytes");
    }
}

} // namespace

bool ReadLoadResponse(const std::string& response, SERVER_LOAD* load, std::string* problem)
{
    const size_t lineEnd = response.find("\r\n");
    const std::string statusLine = response.substr(0, lineEnd);
    if (statusLine.compare(0, 9, "HTTP/1.1 ") != 0 && statusLine.compare(0, 9, "HTTP/1.0 ") != 0) {
        *problem = "not an HTTP answer";
        return false;
    }
    if (statusLine.compare(9, 3, "200") != 0) {
        *problem = "answered '" + Quoted(statusLine.substr(9), 80) + "'";
        return false;
    }
    const size_t bodyAt = response.find("\r\n\r\n");
    if (bodyAt == std::string::npos) {
        *problem = "an answer without a body";
        return false;
    }
    const std::string body = response.substr(bodyAt + 4);
    SERVER_LOAD read;
    if (!ParseServerLoad(body, &read)) {
        *problem = "not a load line: '" + Quoted(body, 80) + "'";
        return false;
    }
    if (read.capacity > kMaxReportedCapacity || read.connections > kMaxReportedConnections) {
        *problem = "numbers out of range: '" + Quoted(body, 80) + "' (capacity and connections at most " +
                   std::to_string(kMaxReportedCapacity) + ")";
        return false;
    }
    *load = read;
    return true;
}

std::vector<HOST_POLL> PollFleet(const std::vector<FLEET_HOST>& hosts, int timeoutMs, SOCKET stopFd,
                                 bool* interrupted)
{
    *interrupted = false;
    std::vector<HOST_POLL> polls(hosts.size());
    std::vector<QUERY> queries(hosts.size());
    for (size_t i = 0; i < hosts.size(); ++i)
        Start(hosts[i], queries[i], polls[i]);
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
        std::vector<SOCKET_POLL_ENTRY> entries;
        std::vector<size_t> owners;
        for (size_t i = 0; i < queries.size(); ++i) {
            if (queries[i].stage == STAGE_DONE)
                continue;
            entries.push_back({queries[i].s, queries[i].stage == STAGE_READING, queries[i].stage == STAGE_CONNECTING});
            owners.push_back(i);
        }
        const uint64_t now = MonotonicMs();
        if (entries.empty() || now >= deadline)
            break;
        if (stopFd != INVALID_SOCKET)
            entries.push_back({stopFd, true, false});
        SocketPollMany(entries.data(), entries.size(), static_cast<int>(deadline - now));
        if (stopFd != INVALID_SOCKET && SocketWaitReadable(stopFd, 0) == 1) {
            *interrupted = true;
            break;
        }
        for (size_t k = 0; k < owners.size(); ++k) {
            QUERY& q = queries[owners[k]];
            const int ready = q.stage == STAGE_READING ? SocketWaitReadable(q.s, 0) : SocketWaitWritable(q.s, 0);
            if (ready != 0)
                Advance(q, polls[owners[k]]);
        }
    }
    for (size_t i = 0; i < queries.size(); ++i)
        if (queries[i].stage != STAGE_DONE)
            Finish(queries[i], polls[i], "no answer within " + std::to_string(timeoutMs) + " ms");
    return polls;
}
