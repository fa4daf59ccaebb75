// A scripted update server for the downloader tests: a raw loopback socket the test
// writes frames to byte by byte, while it pumps the downloader on the same thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "downloader/downloader.h"
#include "support/net_loopback.h"

// Message bodies as the conversation encodes them.
std::string Dword(uint32_t value);
std::string Counted(const std::string& bytes);
// MSG_FILE_BEGIN / MSG_FILE_DATA / MSG_FILE_END frames.
std::string BeginFrame(const std::string& nameWithZero, uint32_t size);
// MSG_FILE_BEGIN answering a package request: name, size low, tag, start low, size high,
// start high, base, and the package's features when given (the answer to a request that
// asked for compressed or delta entries, as the launcher's does without an older signed
// manifest).
std::string PackageBeginFrame(const std::string& nameWithZero, uint64_t size, uint32_t tag, uint64_t start,
                              uint32_t base, std::optional<uint32_t> features = 0u);
// The 28-byte package request as a frame.
std::string PackageRequestFrame(uint32_t kind, uint64_t offset, uint32_t tag, uint32_t installed, uint32_t features);
std::string DataFrame(const std::string& chunk);
std::string EndFrame();

// Calls downloader.Process() until done() holds; false when timeoutMs ran out first.
bool PumpUntil(DOWNLOADER& downloader, const std::function<bool()>& done, int timeoutMs = 5000);

class DOWNLOADER_PEER {
public:
    DOWNLOADER_PEER();

    // Connects the downloader to this peer, accepts it and sends the greeting.
    bool Connect(DOWNLOADER& downloader);
    // Answers the downloader's version question with word as the first dword (our server's
    // capabilities, or anything a plain server sends) and reads the question.
    bool Announce(DOWNLOADER& downloader, uint32_t word, uint32_t gameVersion = 7, uint32_t updaterVersion = 0);
    // Connects, has the downloader ask for a file of kind into target and reads the
    // request's 20 bytes into *request (when given).
    bool Request(DOWNLOADER& downloader, int kind, const std::string& target, std::string* request = nullptr);
    // The same from a server that announced packages: the request is 36 bytes.
    bool RequestPackage(DOWNLOADER& downloader, int kind, const std::string& target, std::string* request = nullptr);
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
