#include "support/downloader_peer.h"

#include "platform/clock.h"

std::string Dword(uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Counted(const std::string& bytes)
{
    return Dword(static_cast<uint32_t>(bytes.size())) + bytes;
}

std::string BeginFrame(const std::string& nameWithZero, uint32_t size)
{
    return Frame(MSG_FILE_BEGIN, Counted(nameWithZero) + Dword(size));
}

std::string PackageBeginFrame(const std::string& nameWithZero, uint64_t size, uint32_t tag, uint64_t start,
                              uint32_t base, std::optional<uint32_t> features)
{
    return Frame(MSG_FILE_BEGIN, Counted(nameWithZero) + Dword(static_cast<uint32_t>(size)) + Dword(tag) +
                                     Dword(static_cast<uint32_t>(start)) + Dword(static_cast<uint32_t>(size >> 32)) +
                                     Dword(static_cast<uint32_t>(start >> 32)) + Dword(base) +
                                     (features ? Dword(*features) : std::string()));
}

std::string PackageRequestFrame(uint32_t kind, uint64_t offset, uint32_t tag, uint32_t installed, uint32_t features)
{
    return Frame(MSG_GET_FILE, Dword(kind) + Dword(static_cast<uint32_t>(offset)) + Dword(tag) + Dword(0x50524756u) +
                                   Dword(static_cast<uint32_t>(offset >> 32)) + Dword(installed) + Dword(features));
}

std::string DataFrame(const std::string& chunk)
{
    return Frame(MSG_FILE_DATA, Counted(chunk));
}

std::string EndFrame()
{
    return Frame(MSG_FILE_END, "");
}

bool PumpUntil(DOWNLOADER& downloader, const std::function<bool()>& done, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (!done()) {
        if (MonotonicMs() >= deadline)
            return false;
        downloader.Process();
        if (!done())
            SleepMs(1);
    }
    return true;
}

DOWNLOADER_PEER::DOWNLOADER_PEER()
{
    m_Listener.Reset(ListenLoopback(&m_iPort));
}

bool DOWNLOADER_PEER::Connect(DOWNLOADER& downloader)
{
    if (m_Listener.Get() == INVALID_SOCKET || !downloader.Connect("127.0.0.1", m_iPort))
        return false;
    if (SocketWaitReadable(m_Listener.Get(), 5000) != 1)
        return false;
    m_Peer.Reset(accept(m_Listener.Get(), nullptr, nullptr));
    return m_Peer.Get() != INVALID_SOCKET && Send(Frame(2, ""));
}

bool DOWNLOADER_PEER::Announce(DOWNLOADER& downloader, uint32_t word, uint32_t gameVersion, uint32_t updaterVersion)
{
    std::string question;
    return Send(Frame(MSG_GET_INFO, Dword(word) + Dword(gameVersion) + Counted(std::string(1, '\0')) +
                                        Dword(updaterVersion))) &&
           downloader.GetVelgrimInfo(5000) && Expect(downloader, 8, &question);
}

bool DOWNLOADER_PEER::RequestPackage(DOWNLOADER& downloader, int kind, const std::string& target,
                                     std::string* request)
{
    std::string bytes;
    return Connect(downloader) && Announce(downloader, SERVER_CAPS_MAGIC | SERVER_CAP_PACKAGES) &&
           downloader.GetFile(kind, target.c_str()) && Expect(downloader, 36, request != nullptr ? request : &bytes);
}

bool DOWNLOADER_PEER::Request(DOWNLOADER& downloader, int kind, const std::string& target, std::string* request)
{
    std::string bytes;
    return Connect(downloader) && downloader.GetFile(kind, target.c_str()) &&
           Expect(downloader, 20, request != nullptr ? request : &bytes);
}

bool DOWNLOADER_PEER::Expect(DOWNLOADER& downloader, size_t n, std::string* bytes, int timeoutMs)
{
    bytes->clear();
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (bytes->size() < n) {
        if (MonotonicMs() >= deadline)
            return false;
        downloader.Process();
        if (SocketWaitReadable(m_Peer.Get(), 1) == 1) {
            char buffer[4096];
            size_t want = n - bytes->size();
            if (want > sizeof(buffer))
                want = sizeof(buffer);
            const int got = static_cast<int>(recv(m_Peer.Get(), buffer, static_cast<int>(want), 0));
            if (got <= 0)
                return false;
            bytes->append(buffer, static_cast<size_t>(got));
        }
    }
    return true;
}

bool DOWNLOADER_PEER::WaitClosed(DOWNLOADER& downloader, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    char buffer[4096];
    while (MonotonicMs() < deadline) {
        downloader.Process();
        if (SocketWaitReadable(m_Peer.Get(), 1) == 1 && recv(m_Peer.Get(), buffer, sizeof(buffer), 0) <= 0)
            return true;
    }
    return false;
}
