#include "net/rx_http_browser.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/counted_text.h"
#include "common/guard.h"
#include "common/trace_log.h"
#include "net/http_body_framing.h"
#include "net/http_chunked_decoder.h"
#include "platform/clock.h"
#include "platform/name_lookup.h"
#include "velgrim_config.h"

namespace {

const char* TextOrNull(const HEAP_STR& text)
{
    return text.Get() != nullptr ? text.Get() : "(null)";
}

bool WouldBlock()
{
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

} // namespace

RX_HTTP_BROWSER::RX_HTTP_BROWSER()
    : m_Socket(INVALID_SOCKET), m_bInit(false), m_bConnected(false), m_iRecvSize(0), m_iBodySize(0),
      m_iPort(VELGRIM_WEB_PORT), m_iContentLength(-1), m_bChunked(false), m_bChunksEnded(false),
      m_uExchangeDeadline(0)
{
    m_RecvBuf[0] = '\0';
}

RX_HTTP_BROWSER::~RX_HTTP_BROWSER()
{
    NetDisconnect();
    m_Host.Assign(nullptr);
    m_ConnectedHost.Assign(nullptr);
}

bool RX_HTTP_BROWSER::NetInit()
{
    RX_GUARD_BEGIN
    m_Socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_Socket == INVALID_SOCKET) {
        RX_ERROR("socket(...)");
        return false;
    }
    m_bInit = true;
    return true;
    RX_GUARD_END("RX_HTTP_BROWSER::NetInit")
}

void RX_HTTP_BROWSER::NetDisconnect()
{
    RX_GUARD_BEGIN
    if (m_Socket == INVALID_SOCKET)
        return;
    shutdown(m_Socket, SD_RECEIVE);
    closesocket(m_Socket);
    m_bConnected = false;
    m_Socket = INVALID_SOCKET;
    RX_GUARD_END("RX_HTTP_BROWSER::NetDisconnect")
}

void RX_HTTP_BROWSER::NetDestroy()
{
    RX_GUARD_BEGIN
    NetDisconnect();
    RX_GUARD_END("RX_HTTP_BROWSER::NetDestroy")
}

bool RX_HTTP_BROWSER::NetConnect(const char* host, int port)
{
    RX_GUARD_BEGIN
    if (host == nullptr || !m_bInit)
        return false;
    in_addr address{};
    if (!LookupHostIPv4(host, kLookupTimeoutMs, &address))
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<unsigned short>(port));
    to.sin_addr = address;
    if (SocketConnectTimeout(m_Socket, &to, kConnectTimeoutMs) != 0) {
        RX_ERROR("error connect to:%s", host);
        return false;
    }
    // From here every send and receive waits for readiness against one deadline.
    SocketSetNonBlocking(m_Socket, true);
    m_uExchangeDeadline = MonotonicMs() + kExchangeTimeoutMs;
    m_ConnectedHost.Assign(host);
    m_bConnected = true;
    return true;
    RX_GUARD_END("RX_HTTP_BROWSER::NetConnect")
}

void RX_HTTP_BROWSER::NetSend(const char* data, int length)
{
    RX_GUARD_BEGIN
    if (!m_bConnected) {
        RX_ERROR("error send to: not connection:%s   %s", TextOrNull(m_ConnectedHost),
                 TextBeforeZero(data, length).c_str());
        return;
    }
    // A short send is continued until the whole request is out.
    int sent = 0;
    while (sent < length) {
        const int left = ExchangeMsLeft();
        if (left <= 0 || SocketWaitWritable(m_Socket, left) != 1)
            break;
        const int n = send(m_Socket, data + sent, length - sent, 0);
        if (n > 0)
            sent += n;
        else if (n == 0 || !WouldBlock())
            break;
    }
    if (sent < length)
        RX_ERROR("error send to:%s   %s\n", TextOrNull(m_ConnectedHost), TextBeforeZero(data, length).c_str());
    RX_GUARD_END("RX_HTTP_BROWSER::NetSend")
}

int RX_HTTP_BROWSER::NetRecv(char* buf, int size)
{
    RX_GUARD_BEGIN
    if (!m_bConnected) {
        RX_ERROR("error recv: not connection:%s", TextOrNull(m_ConnectedHost));
        return -1;
    }
    int total = RecvOnce(buf, size);
    if (total == 0 || total == -1)
        return total;
    m_iRecvSize = total;
    // A head that arrives in pieces is received whole first (within the same deadline and
    // buffer), so that the body is counted from its real start.
    while (GetRecvData() == nullptr && m_iRecvSize < size) {
        const int n = RecvOnce(buf + m_iRecvSize, size - m_iRecvSize);
        if (n <= 0)
            break;
        total += n;
        m_iRecvSize += n;
    }
    m_iContentLength = -1;
    m_bChunked = false;
    m_bChunksEnded = false;
    const char* body = GetRecvData();
    if (body == nullptr)
        return total;

    const int headSize = static_cast<int>(body - m_RecvBuf);
    const HTTP_BODY_FRAMING framing = ReadBodyFraming(buf, headSize);
    if (framing.kind == HTTP_BODY_FRAMING::MALFORMED) {
        RX_ERROR("error recv from:%s: %s", TextOrNull(m_ConnectedHost), framing.problem);
        return -1;
    }
    if (framing.kind == HTTP_BODY_FRAMING::CHUNKED)
        return RecvChunkedBody(buf, size, headSize);
    if (framing.kind == HTTP_BODY_FRAMING::UNTIL_FIRST_BLOCK)
        return total;

    const int announced = framing.length;
    m_iContentLength = announced;
    // Bytes past the announced body are the start of another response, not part of this
    // one: a keep-alive host answers the request's trailing zero byte with an error page.
    // They are never kept, so they cannot end up in a stored file or in the server list.
    if (m_iBodySize > announced) {
        total -= m_iBodySize - announced;
        m_iRecvSize = total;
        m_iBodySize = announced;
    }
    if (announced > m_iBodySize) {
        int missing = announced - m_iBodySize;
        for (;;) {
            int room = size - m_iRecvSize;
            if (room > missing)
                room = missing;
            if (room <= 0)
                break;
            const int n = RecvOnce(buf + m_iRecvSize, room);
            if (n <= 0)
                break;
            total += n;
            m_iRecvSize += n;
            missing -= n;
            if (missing <= 0)
                break;
        }
    }
    return total;
    RX_GUARD_END("RX_HTTP_BROWSER::NetRecv")
}

bool RX_HTTP_BROWSER::Init(const char* host)
{
    RX_GUARD_BEGIN
    m_Host.Assign(host);
    return true;
    RX_GUARD_END("RX_HTTP_BROWSER::Init")
}

void RX_HTTP_BROWSER::Destroy()
{
    RX_GUARD_BEGIN
    NetDestroy();
    RX_GUARD_END("RX_HTTP_BROWSER::Destroy")
}

bool RX_HTTP_BROWSER::Send(const char* head, const char* body)
{
    RX_GUARD_BEGIN
    NetDestroy();
    NetInit();
    if (!NetConnect(m_Host.Get(), m_iPort))
        return false;

    HEAP_STR request(head);
    if (body != nullptr) {
        char line[40];
        std::snprintf(line, sizeof(line), "Content-Length: %d\r\n", static_cast<int>(std::strlen(body)));
        request.Append(line);
    }
    request.Append("\r\n");
    request.Append(body);
    // The terminating zero byte goes out too, as the last byte of the request.
    NetSend(request.Get(), static_cast<int>(std::strlen(request.Get())) + 1);

    // The last byte of the buffer is kept for the terminator.
    const int n = NetRecv(m_RecvBuf, kRecvBufSize - 1);
    m_iRecvSize = n;
    if (n == -1) {
        m_RecvBuf[0] = '\0';
        m_iRecvSize = 0;
        return false;
    }
    m_RecvBuf[n] = '\0';
    Destroy();
    return true;
    RX_GUARD_END("RX_HTTP_BROWSER::Send")
}

char* RX_HTTP_BROWSER::GetRecvData()
{
    RX_GUARD_BEGIN
    m_iBodySize = 0;
    const int size = m_iRecvSize < kRecvBufSize ? m_iRecvSize : kRecvBufSize;
    for (int k = 0; k + 4 <= size; ++k) {
        if (m_RecvBuf[k] == '\r' && m_RecvBuf[k + 1] == '\n' && m_RecvBuf[k + 2] == '\r' && m_RecvBuf[k + 3] == '\n') {
            m_iBodySize = size - k - 4;
            return m_RecvBuf + k + 4;
        }
    }
    return nullptr;
    RX_GUARD_END("RX_HTTP_BROWSER::GetRecvData")
}

int RX_HTTP_BROWSER::RecvOnce(char* to, int room)
{
    for (;;) {
        const int left = ExchangeMsLeft();
        if (left <= 0 || SocketWaitReadable(m_Socket, left) != 1)
            return -1;
        const int n = recv(m_Socket, to, room, 0);
        if (n >= 0)
            return n;
        if (!WouldBlock())
            return -1;
    }
}

int RX_HTTP_BROWSER::RecvChunkedBody(char* buf, int size, int headSize)
{
    // Decoded in place: the body bytes move to the front of what arrived, the chunk lines
    // drop out, and each receive goes right behind the body decoded so far. A web host that
    // keeps the connection open is done with once the last chunk is in.
    HTTP_CHUNKED_DECODER decoder;
    m_bChunked = true;
    int end = headSize;
    int n = decoder.Decode(buf + headSize, m_iRecvSize - headSize, buf + headSize);
    while (n >= 0) {
        end += n;
        m_iRecvSize = end;
        if (decoder.Ended() || end >= size)
            break;
        const int got = RecvOnce(buf + end, size - end);
        if (got <= 0)
            break;
        n = decoder.Decode(buf + end, got, buf + end);
    }
    if (n < 0) {
        RX_ERROR("error recv from:%s: %s", TextOrNull(m_ConnectedHost), decoder.Problem());
        return -1;
    }
    m_bChunksEnded = decoder.Ended();
    GetRecvData();
    return m_iRecvSize;
}

int RX_HTTP_BROWSER::ExchangeMsLeft() const
{
    const uint64_t now = MonotonicMs();
    if (now >= m_uExchangeDeadline)
        return 0;
    const uint64_t left = m_uExchangeDeadline - now;
    return left > 0x7fffffffu ? 0x7fffffff : static_cast<int>(left);
}
