// RX_HTTP_BROWSER: one HTTP/1.1 request and its response over a fresh TCP connection.
// The raw response stays in a fixed buffer inside the object; GetRecvData gives the body.
//
// The body ends where the head says, as web hosts, proxies and CDNs answer: a
// Content-Length (any letter case, at the start of a line) or a chunked body, which is
// decoded in the same buffer; a head that contradicts itself fails the exchange. No
// redirects. Every step is bounded in time, so a silent host costs seconds, not forever.
#pragma once

#include <cstdint>

#include "common/heap_str.h"
#include "platform/sockets.h"

class RX_HTTP_BROWSER {
public:
    // Bounds of one exchange: the name lookup, the connect, and the send and receive
    // together (from the moment of connection).
    static const int kLookupTimeoutMs = 2000;
    static const int kConnectTimeoutMs = 3000;
    static const int kExchangeTimeoutMs = 4000;
    static const int kRecvBufSize = 128000;

    RX_HTTP_BROWSER();
    ~RX_HTTP_BROWSER();
    RX_HTTP_BROWSER(const RX_HTTP_BROWSER&) = delete;
    RX_HTTP_BROWSER& operator=(const RX_HTTP_BROWSER&) = delete;

    // The host that Send talks to.
    bool Init(const char* host);
    // One exchange with the host: the head (request line and header lines, each ended by
    // CR LF), a Content-Length line when body is not null, the blank line, the body and
    // one zero byte. True when a response (possibly empty) was received.
    bool Send(const char* head, const char* body);
    // The bytes after the first CR LF CR LF of the response, or null; sets m_iBodySize.
    char* GetRecvData();

    bool NetInit();
    bool NetConnect(const char* host, int port);
    void NetSend(const char* data, int length);
    // The response into buf: the head whole, then more until the announced Content-Length
    // is complete, or the chunked body decoded to its end; bytes past the body are not
    // kept. The byte count (head and body as kept), 0 when the peer closed at once, -1 on
    // failure: also for a malformed length or chunk.
    int NetRecv(char* buf, int size);
    void NetDisconnect();
    void NetDestroy();
    void Destroy();

    SOCKET m_Socket;
    bool m_bInit;
    bool m_bConnected;
    HEAP_STR m_ConnectedHost;
    HEAP_STR m_Host;
    char m_RecvBuf[kRecvBufSize];
    int m_iRecvSize;
    int m_iBodySize;

    // TCP port of the host: the deployment's web port; tests point it at a loopback server.
    int m_iPort;
    // The length the head announced (-1: none), as the last NetRecv found it.
    int m_iContentLength;
    // The body came chunked, and its last chunk arrived.
    bool m_bChunked;
    bool m_bChunksEnded;

    // True unless the head announced more body bytes than arrived, or a chunked body
    // lacks its end (the peer closed early, the time ran out or the buffer is full). Call
    // after GetRecvData.
    bool BodyComplete() const
    {
        return m_bChunked ? m_bChunksEnded : m_iContentLength < 0 || m_iBodySize >= m_iContentLength;
    }

private:
    // Milliseconds left of the current exchange (0 when it is over).
    int ExchangeMsLeft() const;
    // One receive within the exchange's deadline: a count, 0 when the peer closed, -1 on
    // failure or when the time is up.
    int RecvOnce(char* to, int room);
    // The chunked body after a head of headSize bytes, decoded in place; as NetRecv.
    int RecvChunkedBody(char* buf, int size, int headSize);

    uint64_t m_uExchangeDeadline;
};
