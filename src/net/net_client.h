// NET_CLIENT: the client end of the message transport. Creates a TCP socket, connects it
// to an update server and owns the one NET_CONNECT that carries frames over it.
//
//     client.Init();
//     client.Connect("127.0.0.1", 6527);
//     client.m_pConnect->m_pReceiver = &receiver;
//     ... client.Process() from the polling loop ...
//     client.Disconnect();
#pragma once

#include "net/net_connect.h"
#include "platform/sockets.h"

class NET_CLIENT {
public:
    // The name lookup and connect() give up after this long.
    static constexpr int kLookupTimeoutMs = 2000;
    static constexpr int kConnectTimeoutMs = 5000;
    // Receive buffer asked for, so that one receive step can take a large block: about
    // four 15 ms ticks of a gigabit link, so that a tick spent on a frame header or a
    // late timer does not stop the link.
    static constexpr int kRecvBufferBytes = 8 * 1024 * 1024;

    NET_CLIENT();
    ~NET_CLIENT();
    NET_CLIENT(const NET_CLIENT&) = delete;
    NET_CLIENT& operator=(const NET_CLIENT&) = delete;

    // True while there is a connection whose m_bClosed is clear (also after Release).
    bool IsConnected() const;
    // Creates the socket and the connection; true at once when already connected.
    // A connection that has closed (or never connected) is replaced by a new one.
    bool Init();
    // Resolves host (a name or a dotted IPv4 address) and connects. No log on failure.
    bool Connect(const char* host, unsigned short port);
    // The same connect in steps, to an address already looked up: ConnectBegin drops any
    // earlier connection and starts a new one (false when it failed at once);
    // ConnectFinish waits up to waitMs and returns 1 once connected, 0 while under way,
    // -1 when it failed.
    bool ConnectBegin(const in_addr& address, unsigned short port);
    int ConnectFinish(int waitMs);
    // One polling step of the connection; nothing without one.
    void Process();
    // Release(), then true.
    bool Disconnect();
    // Closes the socket through the connection and marks the connection released. The
    // connection object stays until the client is destroyed or re-initialised.
    void Release();

    SOCKET m_Socket;
    NET_CONNECT* m_pConnect;
};
