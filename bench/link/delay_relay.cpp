// delay_relay LISTEN_HOST UPSTREAM_HOST:PORT ONE_WAY_MS [QUEUE_MIB = 8]
//
// A TCP relay that holds every byte it reads for ONE_WAY_MS before it passes it on, in
// both directions: a round trip of twice that between a client and the upstream server,
// whatever they speak, so that curl's path and the launcher's are delayed alike. It reads
// from a side only while fewer than QUEUE_MIB wait in that direction, so a slow reader
// still holds its sender back. Prints "listening on HOST:PORT" once it accepts
// connections; runs until it is killed.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <string>

namespace {

const size_t kReadBytes = 256u << 10;
const int kReadsPerPump = 8;

uint64_t NowUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

bool ParseAddress(const std::string& host, unsigned long port, sockaddr_in* address)
{
    std::memset(address, 0, sizeof(*address));
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    return port <= 65535 && inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1;
}

// One direction of a relayed connection: bytes read from one socket wait in time-stamped
// blocks until they are due, then go to the other.
class DELAY_PIPE {
public:
    DELAY_PIPE(int from, int to, uint64_t delayUs, size_t cap)
        : m_iFrom(from), m_iTo(to), m_uDelayUs(delayUs), m_uCap(cap)
    {
    }

    bool WantsRead() const { return !m_bEof && m_uQueued < m_uCap; }
    bool WantsWrite() const { return m_bBlocked; }
    bool Done() const { return m_bDone; }
    // When the first waiting block falls due (UINT64_MAX when none waits).
    uint64_t NextDueUs() const { return m_Blocks.empty() || m_bBlocked ? UINT64_MAX : m_Blocks.front().dueUs; }

    // Reads what may be read, writes what is due. False when either side broke.
    bool Pump(uint64_t nowUs)
    {
        static char scratch[kReadBytes];
        for (int i = 0; i < kReadsPerPump && WantsRead(); ++i) {
            const ssize_t got = read(m_iFrom, scratch, sizeof(scratch));
            if (got == 0) {
                m_bEof = true;
            } else if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                return false;
            } else {
                m_uQueued += static_cast<size_t>(got);
                m_Blocks.push_back({nowUs + m_uDelayUs, std::string(scratch, static_cast<size_t>(got)), 0});
            }
        }
        m_bBlocked = false;
        while (!m_Blocks.empty() && m_Blocks.front().dueUs <= nowUs) {
            BLOCK& b = m_Blocks.front();
            const ssize_t sent = send(m_iTo, b.bytes.data() + b.sent, b.bytes.size() - b.sent, MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    m_bBlocked = true;
                    break;
                }
                return false;
            }
            b.sent += static_cast<size_t>(sent);
            if (b.sent < b.bytes.size())
                continue;
            m_uQueued -= b.bytes.size();
            m_Blocks.pop_front();
        }
        if (m_bEof && m_Blocks.empty() && !m_bDone) {
            shutdown(m_iTo, SHUT_WR);
            m_bDone = true;
        }
        return true;
    }

private:
    struct BLOCK {
        uint64_t dueUs;
        std::string bytes;
        size_t sent;
    };

    int m_iFrom;
    int m_iTo;
    uint64_t m_uDelayUs;
    size_t m_uCap;
    std::deque<BLOCK> m_Blocks;
    size_t m_uQueued = 0;
    bool m_bEof = false;
    bool m_bDone = false;
    bool m_bBlocked = false;
};

// A client and its upstream connection.
struct RELAYED {
    int client;
    int upstream;
    DELAY_PIPE up;
    DELAY_PIPE down;
    uint32_t clientEvents = 0;
    uint32_t upstreamEvents = 0;
    bool watched = false;

    RELAYED(int c, int u, uint64_t delayUs, size_t cap)
        : client(c), upstream(u), up(c, u, delayUs, cap), down(u, c, delayUs, cap)
    {
    }
    ~RELAYED()
    {
        close(client);
        close(upstream);
    }
};

void Watch(int epoll, int fd, uint32_t wanted, uint32_t* current, bool added)
{
    if (added && wanted == *current)
        return;
    epoll_event e{};
    e.events = wanted;
    e.data.fd = fd;
    epoll_ctl(epoll, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &e);
    *current = wanted;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: delay_relay LISTEN_HOST UPSTREAM_HOST:PORT ONE_WAY_MS [QUEUE_MIB = 8]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const std::string upstreamText = argv[2];
    const size_t colon = upstreamText.rfind(':');
    sockaddr_in listenAddress;
    sockaddr_in upstreamAddress;
    const unsigned long delayMs = std::strtoul(argv[3], nullptr, 10);
    const unsigned long queueMiB = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 8;
    if (colon == std::string::npos || !ParseAddress(argv[1], 0, &listenAddress) ||
        !ParseAddress(upstreamText.substr(0, colon), std::strtoul(upstreamText.c_str() + colon + 1, nullptr, 10),
                      &upstreamAddress) ||
        delayMs > 10000 || queueMiB == 0 || queueMiB > 1024) {
        std::fprintf(stderr, "delay_relay: bad address, delay (0-10000 ms) or queue (1-1024 MiB)\n");
        return 2;
    }
    const uint64_t delayUs = delayMs * 1000u;
    const size_t cap = queueMiB << 20;

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    socklen_t length = sizeof(listenAddress);
    if (bind(listener, reinterpret_cast<sockaddr*>(&listenAddress), sizeof(listenAddress)) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&listenAddress), &length) != 0) {
        std::fprintf(stderr, "delay_relay: cannot listen on %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    SetNonBlocking(listener);
    const int epoll = epoll_create1(0);
    uint32_t listenerEvents = 0;
    Watch(epoll, listener, EPOLLIN, &listenerEvents, false);
    std::printf("listening on %s:%u\n", argv[1], ntohs(listenAddress.sin_port));
    std::fflush(stdout);

    std::list<std::unique_ptr<RELAYED>> relayed;
    epoll_event events[64];
    for (;;) {
        uint64_t now = NowUs();
        uint64_t due = UINT64_MAX;
        for (const auto& r : relayed)
            due = std::min({due, r->up.NextDueUs(), r->down.NextDueUs()});
        const int timeout = due == UINT64_MAX ? -1 : due <= now ? 0 : static_cast<int>((due - now + 999) / 1000);
        const int n = epoll_wait(epoll, events, 64, timeout);
        if (n < 0 && errno != EINTR)
            return 1;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd != listener)
                continue;
            for (;;) {
                const int client = accept(listener, nullptr, nullptr);
                if (client < 0)
                    break;
                const int upstream = socket(AF_INET, SOCK_STREAM, 0);
                if (connect(upstream, reinterpret_cast<sockaddr*>(&upstreamAddress), sizeof(upstreamAddress)) != 0) {
                    std::fprintf(stderr, "delay_relay: upstream connect failed: %s\n", std::strerror(errno));
                    close(upstream);
                    close(client);
                    continue;
                }
                SetNonBlocking(client);
                SetNonBlocking(upstream);
                relayed.emplace_back(new RELAYED(client, upstream, delayUs, cap));
            }
        }
        now = NowUs();
        for (auto it = relayed.begin(); it != relayed.end();) {
            RELAYED& r = **it;
            if (!r.up.Pump(now) || !r.down.Pump(now) || (r.up.Done() && r.down.Done())) {
                it = relayed.erase(it);
                continue;
            }
            // Errors and hang-ups are reported whatever the mask; they end the pumping above.
            Watch(epoll, r.client, (r.up.WantsRead() ? EPOLLIN : 0u) | (r.down.WantsWrite() ? EPOLLOUT : 0u),
                  &r.clientEvents, r.watched);
            Watch(epoll, r.upstream, (r.down.WantsRead() ? EPOLLIN : 0u) | (r.up.WantsWrite() ? EPOLLOUT : 0u),
                  &r.upstreamEvents, r.watched);
            r.watched = true;
            ++it;
        }
    }
}
