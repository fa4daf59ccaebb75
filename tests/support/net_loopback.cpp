#include "support/net_loopback.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

unsigned short LocalPort(SOCKET s)
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    socklen_t length = sizeof(address);
    if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

namespace {

void SetBuffers(SOCKET s, int bytes)
{
    if (bytes <= 0)
        return;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
}

SOCKET Listen(unsigned short* port, int bufferBytes)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    SetBuffers(s, bufferBytes);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = LocalPort(s);
    return s;
}

} // namespace

SOCKET ListenLoopback(unsigned short* port)
{
    return Listen(port, 0);
}

SOCKET ConnectLoopback(unsigned short port, int bufferBytes)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    SetBuffers(s, bufferBytes);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (SocketConnectTimeout(s, &address, 5000) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool MakeLoopbackPair(SOCKET* a, SOCKET* b, int bufferBytes)
{
    *a = INVALID_SOCKET;
    *b = INVALID_SOCKET;
    unsigned short port = 0;
    SOCKET_HOLDER listener(Listen(&port, bufferBytes));
    if (listener.Get() == INVALID_SOCKET)
        return false;
    SOCKET_HOLDER client(ConnectLoopback(port, bufferBytes));
    if (client.Get() == INVALID_SOCKET)
        return false;
    if (SocketWaitReadable(listener.Get(), 5000) != 1)
        return false;
    const SOCKET server = accept(listener.Get(), nullptr, nullptr);
    if (server == INVALID_SOCKET)
        return false;
    // Accepted sockets inherit nothing we rely on; make it explicit.
    SocketSetNonBlocking(server, false);
    SetBuffers(server, bufferBytes);
    *a = client.Take();
    *b = server;
    return true;
}

bool SendAll(SOCKET s, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int n = static_cast<int>(send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RecvExactly(SOCKET s, size_t n, std::string* out, int timeoutMs)
{
    out->clear();
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    char buffer[65536];
    while (out->size() < n) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            return false;
        if (SocketWaitReadable(s, static_cast<int>(deadline - now)) != 1)
            return false;
        size_t want = n - out->size();
        if (want > sizeof(buffer))
            want = sizeof(buffer);
        const int got = static_cast<int>(recv(s, buffer, static_cast<int>(want), 0));
        if (got <= 0)
            return false;
        out->append(buffer, static_cast<size_t>(got));
    }
    return true;
}

std::string ExchangeLoopback(unsigned short port, const std::string& request, int timeoutMs)
{
    SOCKET_HOLDER s(ConnectLoopback(port));
    if (s.Get() == INVALID_SOCKET || !SendAll(s.Get(), request))
        return "";
    std::string response;
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    char buffer[4096];
    for (;;) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline || SocketWaitReadable(s.Get(), static_cast<int>(deadline - now)) != 1)
            return response;
        const int got = static_cast<int>(recv(s.Get(), buffer, sizeof(buffer), 0));
        if (got <= 0)
            return response;
        response.append(buffer, static_cast<size_t>(got));
    }
}

bool WaitPeerClosed(SOCKET s, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    char buffer[4096];
    for (;;) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            return false;
        if (SocketWaitReadable(s, static_cast<int>(deadline - now)) != 1)
            return false;
        if (recv(s, buffer, sizeof(buffer), 0) <= 0)
            return true;
    }
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

std::string Hex(const std::string& bytes)
{
    std::string text;
    char part[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(part, sizeof(part), i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
        text += part;
    }
    return text;
}

std::string FrameHeader(uint32_t id, uint32_t length)
{
    std::string header(8, '\0');
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
        header[4 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    return header;
}

std::string Frame(uint32_t id, const std::string& body)
{
    return FrameHeader(id, static_cast<uint32_t>(body.size())) + body;
}
