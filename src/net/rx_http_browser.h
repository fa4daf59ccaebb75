// RX_HTTP_BROWSER: one HTTP/1.1 request and its response over a fresh TCP connection.
// The raw response stays in a fixed buffer inside the object; GetRecvData gives the body.
//
// Only "Content-Length:" in the response head is looked at; no chunked bodies, no
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
    // is complete; bytes past an announced length are not kept. The byte count, 0 when the
    // peer closed at once, -1 on failure.
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

    // True unless the head announced more body bytes than arrived (the peer closed early
    // or the time ran out). Call after GetRecvData.
    bool BodyComplete() const { return m_iContentLength < 0 || m_iBodySize >= m_iContentLength; }

private:
    // Milliseconds left of the current exchange (0 when it is over).
    int ExchangeMsLeft() const;

    uint64_t m_uExchangeDeadline;
};
