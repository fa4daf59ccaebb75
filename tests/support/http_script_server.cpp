#include "support/http_script_server.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/clock.h"

namespace {

const int kAcceptMs = 20000;
const int kRequestMs = 10000;
const int kSliceMs = 20;

// The announced body length of a request head (any letter case), 0 without one.
size_t RequestBodyLength(const std::string& head)
{
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    const size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<size_t>(std::strtoul(lower.c_str() + at + 17, nullptr, 10));
}

} // namespace

std::string HttpResponse(const std::string& body, const std::string& status)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HTTP_SCRIPT_SERVER::HTTP_SCRIPT_SERVER(std::vector<STEP> script) : m_Scripts{std::move(script)}
{
    Start();
}

HTTP_SCRIPT_SERVER::HTTP_SCRIPT_SERVER(std::vector<std::vector<STEP>> scripts)
    : m_Scripts(std::move(scripts)), m_bTrailingZero(false)
{
    Start();
}

void HTTP_SCRIPT_SERVER::Start()
{
    m_Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = 0;
    if (m_Listener == INVALID_SOCKET || bind(m_Listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)) != 0 ||
        listen(m_Listener, 4) != 0)
        return;
    socklen_t len = sizeof(at);
    getsockname(m_Listener, reinterpret_cast<sockaddr*>(&at), &len);
    m_iPort = ntohs(at.sin_port);
    m_Thread = std::thread(&HTTP_SCRIPT_SERVER::Run, this);
}

HTTP_SCRIPT_SERVER::~HTTP_SCRIPT_SERVER()
{
    m_bStop = true;
    Join();
    if (m_Listener != INVALID_SOCKET)
        closesocket(m_Listener);
}

void HTTP_SCRIPT_SERVER::Join()
{
    if (m_Thread.joinable())
        m_Thread.join();
}

void HTTP_SCRIPT_SERVER::Run()
{
    for (const std::vector<STEP>& script : m_Scripts) {
        if (!Serve(script))
            return;
        m_Requests.push_back(m_strRequest);
        m_strRequest.clear();
    }
}

bool HTTP_SCRIPT_SERVER::Serve(const std::vector<STEP>& script)
{
    const uint64_t deadline = MonotonicMs() + kAcceptMs;
    while (!m_bStop && MonotonicMs() < deadline && SocketWaitReadable(m_Listener, kSliceMs) == 0) {
    }
    if (m_bStop || SocketWaitReadable(m_Listener, 0) != 1)
        return false;
    SOCKET s = accept(m_Listener, nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return false;
    m_bAccepted = true;
    SocketSetNonBlocking(s, true);
    ReadRequest(s);
    bool open = true;
    for (const STEP& step : script) {
        if (!WaitWhileOpen(s, step.delayMs) || !SendAll(s, step.bytes)) {
            open = false;
            break;
        }
    }
    m_bClosedEarly = !open;
    shutdown(s, SD_SEND);
    // Let the client read the end before the socket goes.
    WaitWhileOpen(s, 2000);
    closesocket(s);
    return true;
}

void HTTP_SCRIPT_SERVER::ReadRequest(SOCKET s)
{
    const uint64_t deadline = MonotonicMs() + kRequestMs;
    char block[65536];
    while (!m_bStop && MonotonicMs() < deadline) {
        // Complete: the head, its announced body and the one zero byte after it (if any).
        const size_t end = m_strRequest.find("\r\n\r\n");
        if (end != std::string::npos &&
            m_strRequest.size() >=
                end + 4 + RequestBodyLength(m_strRequest.substr(0, end + 2)) + (m_bTrailingZero ? 1 : 0))
            return;
        if (SocketWaitReadable(s, kSliceMs) != 1)
            continue;
        const int n = recv(s, block, sizeof(block), 0);
        if (n > 0)
            m_strRequest.append(block, static_cast<size_t>(n));
        else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return;
    }
}

bool HTTP_SCRIPT_SERVER::WaitWhileOpen(SOCKET s, int ms)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(ms);
    char block[4096];
    while (!m_bStop && MonotonicMs() < deadline) {
        if (SocketWaitReadable(s, kSliceMs) != 1)
            continue;
        const int n = recv(s, block, sizeof(block), 0);
        if (n > 0)
            m_strRequest.append(block, static_cast<size_t>(n));
        else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
    }
    return !m_bStop;
}

bool HTTP_SCRIPT_SERVER::SendAll(SOCKET s, const std::string& bytes)
{
    size_t sent = 0;
    const uint64_t deadline = MonotonicMs() + kRequestMs;
    while (sent < bytes.size()) {
        if (m_bStop || MonotonicMs() >= deadline)
            return false;
        if (SocketWaitWritable(s, kSliceMs) != 1)
            continue;
        const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n > 0)
            sent += static_cast<size_t>(n);
        else if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
    }
    return true;
}

int RefusedLoopbackPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 0;
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&at), sizeof(at)) == 0) {
        socklen_t len = sizeof(at);
        getsockname(s, reinterpret_cast<sockaddr*>(&at), &len);
        port = ntohs(at.sin_port);
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    return port;
}
