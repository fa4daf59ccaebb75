#include "update_server/status_http_server.h"

#include <algorithm>
#include <cstring>

#include "common/trace_log.h"
#include "platform/error_text.h"
#include "update_server/status_request.h"

namespace {

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

bool WouldBlock()
{
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

} // namespace

std::string StatusResponse(int status, const std::string& contentType, const std::string& body)
{
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    response += "Content-Type: " + contentType + "\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "Cache-Control: no-store\r\n";
    if (status == 405)
        response += "Allow: GET\r\n";
    response += "Connection: close\r\n\r\n";
    return response + body;
}

STATUS_HTTP_SERVER::STATUS_HTTP_SERVER(STATUS_PAGES* pages, SERVER_COUNTERS* counters)
    : m_pPages(pages), m_pCounters(counters), m_Gate("status port", counters)
{
}

STATUS_HTTP_SERVER::~STATUS_HTTP_SERVER()
{
    Stop();
}

bool STATUS_HTTP_SERVER::Start(unsigned long address, unsigned short port)
{
    sockaddr_in where;
    std::memset(&where, 0, sizeof(where));
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(static_cast<uint32_t>(address));
    where.sin_port = htons(port);
    m_Socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_Socket == INVALID_SOCKET || !SocketSetNonBlocking(m_Socket, true) || !SocketAllowRebind(m_Socket) ||
        bind(m_Socket, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) == SOCKET_ERROR ||
        listen(m_Socket, 64) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        g_trace->Log("update-server: status port %s:%u: cannot listen: %s\n", inet_ntoa(where.sin_addr), port,
                     SocketErrorText(error).c_str());
        Stop();
        return false;
    }
    g_trace->Log("update-server: status on %s:%u (GET /metrics, /load)\n", inet_ntoa(where.sin_addr), Port());
    return true;
}

unsigned short STATUS_HTTP_SERVER::Port() const
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    socklen_t length = sizeof(address);
    if (m_Socket == INVALID_SOCKET ||
        getsockname(m_Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void STATUS_HTTP_SERVER::Accept(uint64_t nowMs)
{
    for (int i = 0; i < kAcceptsPerStep && m_Gate.IsOpen(nowMs); ++i) {
        // Linux reports a descriptor shortage even with nobody waiting: ask only for one.
        if (SocketWaitReadable(m_Socket, 0) != 1)
            return;
        const SOCKET s = accept(m_Socket, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            if (!WouldBlock())
                m_Gate.OnFailure(WSAGetLastError(), nowMs, m_Connections.size());
            return;
        }
        m_Gate.OnSuccess();
        SocketSetNonBlocking(s, true);
        if (m_Connections.size() >= kMaxConnections) {
            // Busy: a short answer that fits any socket buffer, and no waiting for it.
            const std::string busy = StatusResponse(503, "text/plain", "busy\n");
            (void)send(s, busy.data(), static_cast<int>(busy.size()), 0);
            closesocket(s);
            ++m_pCounters->statusRefused;
            continue;
        }
        CONNECTION c;
        c.s = s;
        c.acceptedMs = nowMs;
        c.deadlineMs = nowMs + kRequestMs;
        m_Connections.push_back(std::move(c));
    }
}

void STATUS_HTTP_SERVER::Answer(CONNECTION& c, int status, const std::string& contentType, const std::string& body,
                                uint64_t nowMs)
{
    (void)nowMs;
    c.out = StatusResponse(status, contentType, body);
    c.sent = 0;
    c.phase = PHASE_WRITING;
    c.deadlineMs = c.acceptedMs + kAnswerMs;
    if (status == 200)
        ++m_pCounters->statusAnswered;
    else
        ++m_pCounters->statusRefused;
}

bool STATUS_HTTP_SERVER::Advance(CONNECTION& c, uint64_t nowMs)
{
    if (c.phase == PHASE_READING) {
        char buffer[1024];
        const size_t room = kMaxRequestHead + 1 - std::min(c.in.size(), kMaxRequestHead + 1);
        const int got = room > 0 ? static_cast<int>(recv(c.s, buffer, static_cast<int>(std::min(room, sizeof(buffer))), 0))
                                 : 0;
        if (got == 0 || (got < 0 && !WouldBlock()))
            return false; // left, or failed, before asking anything
        if (got > 0)
            c.in.append(buffer, static_cast<size_t>(got));
        std::string path;
        switch (CheckStatusRequest(c.in, kMaxRequestHead, &path)) {
        case REQUEST_INCOMPLETE:
            if (nowMs >= c.deadlineMs)
                Answer(c, 408, "text/plain", "request too slow\n", nowMs);
            break;
        case REQUEST_GET: {
            std::string type;
            std::string body;
            if (m_pPages->Page(path, &type, &body))
                Answer(c, 200, type, body, nowMs);
            else
                Answer(c, 404, "text/plain", "not found: try /metrics or /load\n", nowMs);
            break;
        }
        case REQUEST_BAD:
            Answer(c, 400, "text/plain", "bad request\n", nowMs);
            break;
        case REQUEST_TOO_LARGE:
            Answer(c, 431, "text/plain", "request too large\n", nowMs);
            break;
        case REQUEST_NOT_GET:
            Answer(c, 405, "text/plain", "GET only\n", nowMs);
            break;
        }
    }
    if (c.phase == PHASE_WRITING) {
        while (c.sent < c.out.size()) {
            const int n = static_cast<int>(send(c.s, c.out.data() + c.sent, static_cast<int>(c.out.size() - c.sent), 0));
            if (n <= 0) {
                if (n < 0 && WouldBlock())
                    return nowMs < c.deadlineMs;
                return false;
            }
            c.sent += static_cast<size_t>(n);
        }
        shutdown(c.s, SD_SEND);
        c.phase = PHASE_LINGERING;
        c.deadlineMs = std::min(c.deadlineMs, nowMs + kLingerMs);
    }
    if (c.phase == PHASE_LINGERING) {
        char buffer[4096];
        for (;;) {
            const int got = static_cast<int>(recv(c.s, buffer, sizeof(buffer), 0));
            if (got <= 0)
                return got < 0 && WouldBlock() && nowMs < c.deadlineMs;
        }
    }
    return true;
}

void STATUS_HTTP_SERVER::Step(uint64_t nowMs)
{
    if (m_Socket == INVALID_SOCKET)
        return;
    Accept(nowMs);
    for (size_t i = 0; i < m_Connections.size();) {
        if (Advance(m_Connections[i], nowMs)) {
            ++i;
            continue;
        }
        closesocket(m_Connections[i].s);
        m_Connections.erase(m_Connections.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void STATUS_HTTP_SERVER::AddPollEntries(std::vector<SOCKET_POLL_ENTRY>* entries, uint64_t* deadlineMs,
                                        uint64_t nowMs) const
{
    if (m_Socket == INVALID_SOCKET)
        return;
    if (const uint64_t reopen = m_Gate.PausedUntil(nowMs))
        *deadlineMs = std::min(*deadlineMs, reopen);
    else
        entries->push_back({m_Socket, true, false});
    for (const CONNECTION& c : m_Connections) {
        entries->push_back({c.s, c.phase != PHASE_WRITING, c.phase == PHASE_WRITING});
        *deadlineMs = std::min(*deadlineMs, c.deadlineMs);
    }
}

void STATUS_HTTP_SERVER::Stop()
{
    for (CONNECTION& c : m_Connections)
        closesocket(c.s);
    m_Connections.clear();
    if (m_Socket != INVALID_SOCKET) {
        closesocket(m_Socket);
        m_Socket = INVALID_SOCKET;
    }
}
