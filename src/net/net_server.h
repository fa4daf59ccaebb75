// NET_SERVER: the listening end of the message transport. Accepts at most one client per
// Process step, greets it with a header-only frame of id 2, keeps the accepted
// connections in acceptance order, pumps them, and destroys those whose user has set
// m_bReleased.
#pragma once

#include "common/ptr_array.h"
#include "net/net_connect.h"
#include "platform/sockets.h"

// Told of every accepted connection, which stays owned by the server. Through it the user
// sets the receiver, queues frames, and sets m_bReleased to have it destroyed.
class NET_SERVER_HANDLER {
public:
    virtual void OnNewConnect(NET_CONNECT* connection) { (void)connection; }

protected:
    ~NET_SERVER_HANDLER() = default;
};

class NET_SERVER {
public:
    static constexpr int kListenBacklog = 128;
    // Id of the greeting frame every accepted client gets first.
    static constexpr short kGreetingId = 2;

    NET_SERVER();
    // Destroys the listed connections and closes the listening socket if still open.
    ~NET_SERVER();
    NET_SERVER(const NET_SERVER&) = delete;
    NET_SERVER& operator=(const NET_SERVER&) = delete;

    // Creates a non-blocking socket, binds it to the port on all interfaces (or on the
    // given IPv4 address, host byte order) and listens. A server that already listens
    // closes its old socket first. Each failing step writes its Error line, with the
    // address and the system's words; m_iInitError keeps the error.
    bool Init(unsigned short port, unsigned long address = INADDR_ANY);
    // One polling step: ProcessNewConnect(), then ProcessConnects().
    void Process();
    // Accepts at most one waiting client.
    void ProcessNewConnect();
    // Pumps every listed connection once and destroys the released ones.
    void ProcessConnects();
    // Closes the listening socket; listed connections stay and are still pumped.
    void Release();

    SOCKET m_Socket;
    sockaddr_in m_Addr;
    PTR_ARRAY<NET_CONNECT*> m_Connects;
    NET_SERVER_HANDLER* m_pHandler;
    int m_iInitError = 0;
};
