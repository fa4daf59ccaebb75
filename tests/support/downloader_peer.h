// A scripted update server for the downloader tests: a raw loopback socket the test
// writes frames to byte by byte, while it pumps the downloader on the same thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "downloader/downloader.h"
#include "support/net_loopback.h"

// Message bodies as the conversation encodes them.
std::string Dword(uint32_t value);
std::string Counted(const std::string& bytes);
// MSG_FILE_BEGIN / MSG_FILE_DATA / MSG_FILE_END frames.
std::string BeginFrame(const std::string& nameWithZero, uint32_t size);
std::string DataFrame(const std::string& chunk);
std::string EndFrame();

// Calls downloader.Process() until done() holds; false when timeoutMs ran out first.
bool PumpUntil(DOWNLOADER& downloader, const std::function<bool()>& done, int timeoutMs = 5000);

class DOWNLOADER_PEER {
public:
    DOWNLOADER_PEER();

    // Connects the downloader to this peer, accepts it and sends the greeting.
    bool Connect(DOWNLOADER& downloader);
    // Connects, has the downloader ask for a file of kind into target and reads the
    // request's 20 bytes into *request (when given).
    bool Request(DOWNLOADER& downloader, int kind, const std::string& target, std::string* request = nullptr);
    // Reads exactly n bytes that the downloader sends, pumping it meanwhile.
    bool Expect(DOWNLOADER& downloader, size_t n, std::string* bytes, int timeoutMs = 5000);
    bool Send(const std::string& bytes) { return SendAll(m_Peer.Get(), bytes); }
    // True once the downloader has closed the connection (pumping it meanwhile).
    bool WaitClosed(DOWNLOADER& downloader, int timeoutMs = 5000);
    void Close() { m_Peer.Reset(); }

    unsigned short Port() const { return m_iPort; }
    SOCKET Socket() const { return m_Peer.Get(); }

private:
    SOCKET_HOLDER m_Listener;
    SOCKET_HOLDER m_Peer;
    unsigned short m_iPort = 0;
};
