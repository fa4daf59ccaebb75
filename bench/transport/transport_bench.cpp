// Receive throughput of the transport on loopback: a NET_SERVER in a child process sends
// frames of a given size; a NET_CLIENT here is pumped once per tick (as the update window
// does, every 15 ms) or as fast as data arrives. Prints MB/s per case.
//
//     transport_bench [MiB per case, default 128]

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/net_client.h"
#include "net/net_server.h"
#include "platform/clock.h"
#include "platform/sockets.h"

namespace {

const short kChunkId = 258;

class BYTE_COUNTER final : public NET_MESSAGE_RECEIVER {
public:
    void ProcessMessage(short id, const char*, int length) override
    {
        if (id == kChunkId)
            bytes += static_cast<uint64_t>(length);
    }
    uint64_t bytes = 0;
};

// The serving side: one client, `total` bytes in frames of `frameBytes`, kept at about
// two frames queued. Exits when the client has gone.
[[noreturn]] void Serve(int portPipe, uint64_t total, int frameBytes)
{
    NET_SERVER server;
    unsigned short port = 0;
    if (server.Init(0, INADDR_LOOPBACK)) {
        sockaddr_in address;
        socklen_t length = sizeof(address);
        if (getsockname(server.m_Socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    if (write(portPipe, &port, sizeof(port)) != sizeof(port) || port == 0)
        _exit(1);
    const uint64_t deadline = MonotonicMs() + 300000;
    while (server.m_Connects.Count() == 0 && MonotonicMs() < deadline) {
        SocketWaitReadable(server.m_Socket, 10);
        server.Process();
    }
    if (server.m_Connects.Count() == 0)
        _exit(1);
    NET_CONNECT* connection = server.m_Connects[0];
    const std::string body(static_cast<size_t>(frameBytes), 'd');
    uint64_t queued = 0;
    while (!connection->m_bClosed && MonotonicMs() < deadline) {
        if (queued < total && connection->m_iSendLen - connection->m_iSendPos < 2 * frameBytes) {
            connection->Send_iMsg(kChunkId, body.data(), frameBytes);
            queued += static_cast<uint64_t>(frameBytes);
        }
        server.Process();
        if (connection->m_iSendLen > connection->m_iSendPos)
            SocketWaitWritable(connection->m_Socket, 10);
        else
            SocketWaitReadable(connection->m_Socket, 10);
    }
    _exit(0);
}

double RunCase(uint64_t total, int frameBytes, unsigned tickMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        Serve(fds[1], total, frameBytes);
    }
    close(fds[1]);
    unsigned short port = 0;
    const bool havePort = read(fds[0], &port, sizeof(port)) == sizeof(port) && port != 0;
    close(fds[0]);

    double mbps = -1;
    if (havePort) {
        NET_CLIENT client;
        BYTE_COUNTER counter;
        if (client.Init() && client.Connect("127.0.0.1", port)) {
            client.m_pConnect->m_pReceiver = &counter;
            const uint64_t start = MonotonicMs();
            uint64_t nextTick = start;
            while (counter.bytes < total && client.IsConnected() && MonotonicMs() - start < 240000) {
                if (tickMs != 0) {
                    const uint64_t now = MonotonicMs();
                    if (now < nextTick)
                        SleepMs(static_cast<unsigned>(nextTick - now));
                    nextTick += tickMs;
                } else {
                    SocketWaitReadable(client.m_Socket, 10);
                }
                client.Process();
            }
            const uint64_t elapsed = MonotonicMs() - start;
            if (counter.bytes >= total && elapsed > 0)
                mbps = static_cast<double>(total) / 1e6 / (static_cast<double>(elapsed) / 1000.0);
        }
        client.Disconnect();
    }
    int status = 0;
    waitpid(child, &status, 0);
    return mbps;
}

} // namespace

int main(int argc, char** argv)
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 128;
    const uint64_t total = mib << 20;
    struct CASE {
        int frameMiB;
        unsigned tickMs;
    };
    const CASE cases[] = {{1, 15}, {8, 15}, {32, 15}, {1, 0}, {32, 0}};
    std::printf("transport receive throughput, %llu MiB per case, loopback\n", static_cast<unsigned long long>(mib));
    for (const CASE& c : cases) {
        const double mbps = RunCase(total, c.frameMiB << 20, c.tickMs);
        if (c.tickMs != 0)
            std::printf("  frames of %2d MiB, one step per %u ms tick: %8.1f MB/s\n", c.frameMiB, c.tickMs, mbps);
        else
            std::printf("  frames of %2d MiB, stepped as data arrives:  %8.1f MB/s\n", c.frameMiB, mbps);
        std::fflush(stdout);
    }
    WSACleanup();
    return 0;
}
