#include "net/net_server.h"

#include <cstring>

#include "common/guard.h"
#include "common/trace_log.h"
#include "platform/error_text.h"

NET_SERVER::NET_SERVER() : m_Socket(INVALID_SOCKET), m_pHandler(nullptr)
{
    std::memset(&m_Addr, 0, sizeof(m_Addr));
    m_Connects.Init();
}

NET_SERVER::~NET_SERVER()
{
    for (uint32_t i = 0; i < m_Connects.Count(); ++i)
        delete m_Connects[i];
    m_Connects.Free();
    if (m_Socket != INVALID_SOCKET)
        Release();
}

bool NET_SERVER::Init(unsigned short port, unsigned long address)
{
    RX_GUARD_BEGIN
    if (m_Socket != INVALID_SOCKET)
        Release();
    m_iInitError = 0;

    m_Socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_Socket == INVALID_SOCKET) {
        RX_ERROR("NET_SERVER: socket(...)");
        return false;
    }

    unsigned long nonBlocking = 1;
    if (ioctlsocket(m_Socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        RX_ERROR("NET_SERVER: ioctlsocket(...)");
        return false;
    }
    SocketAllowRebind(m_Socket);

    std::memset(&m_Addr, 0, sizeof(m_Addr));
    m_Addr.sin_family = AF_INET;
    m_Addr.sin_addr.s_addr = htonl(static_cast<uint32_t>(address));
    m_Addr.sin_port = htons(port);
    if (bind(m_Socket, reinterpret_cast<const sockaddr*>(&m_Addr), sizeof(m_Addr)) == SOCKET_ERROR ||
        listen(m_Socket, kListenBacklog) == SOCKET_ERROR) {
        m_iInitError = WSAGetLastError();
        RX_ERROR("NET_SERVER: cannot listen on %s:%u: %s", inet_ntoa(m_Addr.sin_addr), static_cast<unsigned>(port),
                 SocketErrorText(m_iInitError).c_str());
        return false;
    }

    g_trace->Log("NET_SERVER: init complete\n");
    return true;
    RX_GUARD_END("NET_SERVER::Init")
}

void NET_SERVER::Process()
{
    RX_GUARD_BEGIN
    ProcessNewConnect();
    ProcessConnects();
    RX_GUARD_END("NET_SERVER::Process")
}

void NET_SERVER::ProcessNewConnect()
{
    RX_GUARD_BEGIN
    if (SocketWaitReadable(m_Socket, 0) != 1)
        return;

    NET_CONNECT* connection = new NET_CONNECT;
    socklen_t length = sizeof(m_Addr);
    connection->m_Socket = accept(m_Socket, reinterpret_cast<sockaddr*>(&m_Addr), &length);
    if (connection->m_Socket == INVALID_SOCKET) {
        delete connection;
        return;
    }
    // Winsock hands out accepted sockets in the listener's non-blocking mode and POSIX
    // does not; either way no step of the server may wait on one client.
    SocketSetNonBlocking(connection->m_Socket, true);
    connection->m_strName = inet_ntoa(m_Addr.sin_addr);
    connection->m_bClosed = false;
    connection->Send_iMsg(kGreetingId, nullptr, 0);

    m_Connects.Push(connection);
    if (m_pHandler != nullptr)
        m_pHandler->OnNewConnect(connection);
    RX_GUARD_END("NET_SERVER::ProcessNewConnect")
}

namespace {

// Builds the list of connections kept by one ProcessConnects pass. Whatever way the pass
// ends (a receiver may throw), the server's list is replaced by the kept connections plus
// those not yet visited, so it never holds a destroyed one.
class KEPT_CONNECTS {
public:
    KEPT_CONNECTS(PTR_ARRAY<NET_CONNECT*>& list) : m_List(list)
    {
        m_Kept.Init();
        m_Kept.Reserve(m_List.Count());
    }

    ~KEPT_CONNECTS()
    {
        for (uint32_t i = m_iNext; i < m_List.Count(); ++i)
            m_Kept.Push(m_List[i]);
        m_List.Resize(m_Kept.Count());
        for (uint32_t i = 0; i < m_Kept.Count(); ++i)
            m_List[i] = m_Kept[i];
        m_Kept.Free();
    }

    KEPT_CONNECTS(const KEPT_CONNECTS&) = delete;
    KEPT_CONNECTS& operator=(const KEPT_CONNECTS&) = delete;

    // The next connection to visit, or null at the end.
    NET_CONNECT* Next() { return m_iNext < m_List.Count() ? m_List[m_iNext] : nullptr; }
    void Keep() { m_Kept.Push(m_List[m_iNext++]); }
    void Drop() { ++m_iNext; }

private:
    PTR_ARRAY<NET_CONNECT*>& m_List;
    PTR_ARRAY<NET_CONNECT*> m_Kept;
    uint32_t m_iNext = 0;
};

} // namespace

void NET_SERVER::ProcessConnects()
{
    RX_GUARD_BEGIN
    KEPT_CONNECTS pass(m_Connects);
    while (NET_CONNECT* connection = pass.Next()) {
        if (connection->m_bReleased) {
            pass.Drop();
            delete connection;
        } else {
            pass.Keep();
            connection->Process();
        }
    }
    RX_GUARD_END("NET_SERVER::ProcessConnects")
}

void NET_SERVER::Release()
{
    RX_GUARD_BEGIN
    if (m_Socket != INVALID_SOCKET) {
        shutdown(m_Socket, SD_SEND);
        closesocket(m_Socket);
        m_Socket = INVALID_SOCKET;
    }
    RX_GUARD_END("NET_SERVER::Release")
}
