#include "net/net_client.h"

#include <cstring>

#include "common/guard.h"
#include "common/trace_log.h"
#include "platform/name_lookup.h"

NET_CLIENT::NET_CLIENT() : m_Socket(INVALID_SOCKET), m_pConnect(nullptr) {}

NET_CLIENT::~NET_CLIENT()
{
    // The connection closes the shared socket; a socket without one is closed here.
    if (m_pConnect != nullptr && m_pConnect->m_Socket == m_Socket)
        m_Socket = INVALID_SOCKET;
    delete m_pConnect;
    m_pConnect = nullptr;
    if (m_Socket != INVALID_SOCKET)
        closesocket(m_Socket);
}

bool NET_CLIENT::IsConnected() const
{
    RX_GUARD_BEGIN
    return m_pConnect != nullptr && !m_pConnect->m_bClosed;
    RX_GUARD_END("NET_CLIENT::IsConnected")
}

bool NET_CLIENT::Init()
{
    RX_GUARD_BEGIN
    if (IsConnected())
        return true;
    if (m_pConnect != nullptr) {
        // A connection that has closed is not reopened; a new one takes its place.
        if (m_pConnect->m_Socket == m_Socket)
            m_Socket = INVALID_SOCKET;
        delete m_pConnect;
        m_pConnect = nullptr;
    }
    if (m_Socket != INVALID_SOCKET) {
        closesocket(m_Socket);
        m_Socket = INVALID_SOCKET;
    }

    m_Socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_Socket == INVALID_SOCKET) {
        RX_ERROR("socket(...)");
        return false;
    }
    // Before connect, so that the window offered to the server is already large.
    SocketRequestReceiveBuffer(m_Socket, kRecvBufferBytes);

    m_pConnect = new NET_CONNECT;
    m_pConnect->m_Socket = m_Socket;
    m_pConnect->m_strName = "server";
    return true;
    RX_GUARD_END("NET_CLIENT::Init")
}

bool NET_CLIENT::Connect(const char* host, unsigned short port)
{
    RX_GUARD_BEGIN
    if (IsConnected())
        return true;
    if (m_pConnect == nullptr || m_Socket == INVALID_SOCKET || host == nullptr)
        return false;

    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // The same bounded lookup as the web host's: a resolver that hangs costs seconds.
    if (!LookupHostIPv4(host, kLookupTimeoutMs, &address.sin_addr))
        return false;

    if (SocketConnectTimeout(m_Socket, &address, kConnectTimeoutMs) != 0)
        return false;
    m_pConnect->m_bClosed = false;
    return true;
    RX_GUARD_END("NET_CLIENT::Connect")
}

bool NET_CLIENT::ConnectBegin(const in_addr& address, unsigned short port)
{
    RX_GUARD_BEGIN
    // A released connection still counts as connected: it is closed for good here.
    if (m_pConnect != nullptr) {
        Release();
        m_pConnect->m_bClosed = true;
    }
    if (!Init())
        return false;
    sockaddr_in to;
    std::memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    const int started = SocketConnectStart(m_Socket, &to);
    if (started == 0)
        m_pConnect->m_bClosed = false;
    return started != SOCKET_ERROR;
    RX_GUARD_END("NET_CLIENT::ConnectBegin")
}

int NET_CLIENT::ConnectFinish(int waitMs)
{
    RX_GUARD_BEGIN
    if (IsConnected())
        return 1;
    if (m_pConnect == nullptr || m_Socket == INVALID_SOCKET)
        return -1;
    const int finished = SocketConnectFinish(m_Socket, waitMs);
    if (finished == 1)
        return 0;
    if (finished != 0)
        return -1;
    m_pConnect->m_bClosed = false;
    return 1;
    RX_GUARD_END("NET_CLIENT::ConnectFinish")
}

void NET_CLIENT::Process()
{
    RX_GUARD_BEGIN
    if (m_pConnect != nullptr)
        m_pConnect->Process();
    RX_GUARD_END("NET_CLIENT::Process")
}

bool NET_CLIENT::Disconnect()
{
    RX_GUARD_BEGIN
    Release();
    return true;
    RX_GUARD_END("NET_CLIENT::Disconnect")
}

void NET_CLIENT::Release()
{
    RX_GUARD_BEGIN
    if (m_pConnect != nullptr) {
        m_pConnect->m_bReleased = true;
        m_pConnect->Realese();
        m_Socket = INVALID_SOCKET;
    } else if (m_Socket != INVALID_SOCKET) {
        shutdown(m_Socket, SD_RECEIVE);
        closesocket(m_Socket);
        m_Socket = INVALID_SOCKET;
    }
    RX_GUARD_END("NET_CLIENT::Release")
}
