// Loopback peers for the transport tests: raw sockets on 127.0.0.1, byte-exact reads with
// a time bound, and hex dumps for readable failures.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "net/net_message_receiver.h"
#include "platform/sockets.h"

// The local port a socket is bound to (0 on failure).
unsigned short LocalPort(SOCKET s);

// A listening socket on 127.0.0.1 and a free port; INVALID_SOCKET on failure.
SOCKET ListenLoopback(unsigned short* port);

// A blocking TCP socket connected to 127.0.0.1:port; INVALID_SOCKET on failure.
// bufferBytes > 0 sets its send and receive buffers before connecting.
SOCKET ConnectLoopback(unsigned short port, int bufferBytes = 0);

// Two connected TCP sockets over 127.0.0.1. Both blocking; false on failure.
// bufferBytes > 0 sets the send and receive buffers of both before connecting.
bool MakeLoopbackPair(SOCKET* a, SOCKET* b, int bufferBytes = 0);

// Sends every byte (blocking socket); false on failure.
bool SendAll(SOCKET s, const std::string& bytes);

// Reads exactly n bytes within timeoutMs; false (with what arrived in *out) otherwise.
bool RecvExactly(SOCKET s, size_t n, std::string* out, int timeoutMs);

// True when the peer has closed: a read returns 0 (or fails) within timeoutMs. Bytes
// still in flight are read and discarded.
bool WaitPeerClosed(SOCKET s, int timeoutMs);

// Sends request to 127.0.0.1:port and returns everything the server sends until it
// closes, within timeoutMs ("" when it cannot connect).
std::string ExchangeLoopback(unsigned short port, const std::string& request, int timeoutMs = 5000);

// Bytes from a list of values 0-255.
std::string Bytes(std::initializer_list<int> values);

// "06 01 00 00": for failure messages.
std::string Hex(const std::string& bytes);

// One frame as it stands on the wire.
std::string Frame(uint32_t id, const std::string& body);
std::string FrameHeader(uint32_t id, uint32_t length);

// A receiver that records every delivered message, and optionally acts on it.
struct RECEIVED_MESSAGE {
    short id;
    std::string body;
};

class MESSAGE_RECORDER final : public NET_MESSAGE_RECEIVER {
public:
    void ProcessMessage(short id, const char* data, int length) override
    {
        m_Messages.push_back({id, std::string(data, static_cast<size_t>(length))});
        if (m_OnMessage)
            m_OnMessage(id, data, length);
    }

    std::vector<RECEIVED_MESSAGE> m_Messages;
    std::function<void(short, const char*, int)> m_OnMessage;
};

// Closes s when the holder goes out of scope.
class SOCKET_HOLDER {
public:
    explicit SOCKET_HOLDER(SOCKET s = INVALID_SOCKET) : m_Socket(s) {}
    ~SOCKET_HOLDER() { Reset(); }
    SOCKET_HOLDER(const SOCKET_HOLDER&) = delete;
    SOCKET_HOLDER& operator=(const SOCKET_HOLDER&) = delete;
    void Reset(SOCKET s = INVALID_SOCKET)
    {
        if (m_Socket != INVALID_SOCKET)
            closesocket(m_Socket);
        m_Socket = s;
    }
    SOCKET Get() const { return m_Socket; }
    // Gives the socket up without closing it.
    SOCKET Take()
    {
        const SOCKET s = m_Socket;
        m_Socket = INVALID_SOCKET;
        return s;
    }

private:
    SOCKET m_Socket;
};
