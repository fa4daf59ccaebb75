// Download throughput on loopback, written to disk:
//  1. one patch from update-server to the DOWNLOADER pumped once per 15 ms tick, as the
//     update window pumps it, beside the same file fetched by curl from nginx;
//  2. many concurrent tick-paced clients: aggregate MB/s and the server's peak memory.
//
//     download_bench [patch MiB = 256] [clients = 200] [MiB per client = 16]
//
// Needs nginx and curl on the PATH (or in /usr/sbin, /usr/bin).

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_processes.h"
#include "net/net_client.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "protocol/update_messages.h"
#include "protocol/update_protocol.h"
#include "tick_download.h"

namespace {

// The DOWNLOADER at the window's pace; MB/s including the write to disk, -1 on failure.
double DownloaderRun(unsigned short port, const std::string& targetDir, const std::string& expected, unsigned* ticks)
{
    const TICK_DOWNLOAD_RESULT r = TickDownload("127.0.0.1", port, targetDir, 600000);
    *ticks = r.ticks;
    if (!r.ok)
        return -1;
    if (ReadText(targetDir + "/Velgrim_patch.rxpack") != expected) {
        std::fprintf(stderr, "the downloaded file differs\n");
        return -1;
    }
    return MBps(expected.size(), r.ms);
}

// curl from nginx, to disk; MB/s, -1 on failure.
double CurlRun(const std::string& root, const std::string& work, const std::string& expected)
{
    NGINX_PROCESS nginx;
    if (!nginx.Start(root, work))
        return -1;
    const std::string out = work + "/curl-download";
    const int64_t ms = CurlDownload("http://127.0.0.1:" + std::to_string(nginx.port) + "/Velgrim_patch.rxpack", out,
                                    work + "/curl.out", 600000);
    const bool same = ms >= 0 && ReadText(out) == expected;
    unlink(out.c_str());
    if (ms >= 0 && !same)
        std::fprintf(stderr, "curl's file differs\n");
    return same ? MBps(expected.size(), static_cast<uint64_t>(ms)) : -1;
}

// A tick-paced client that checks each chunk as it comes and keeps nothing.
class STREAM_CLIENT final : public NET_MESSAGE_RECEIVER {
public:
    explicit STREAM_CLIENT(const std::string& expected) : m_Expected(expected) {}

    bool Start(unsigned short port)
    {
        if (!client.Init() || !client.Connect("127.0.0.1", port))
            return false;
        client.m_pConnect->m_pReceiver = this;
        NET_MESSAGE_HELPER request;
        WriteFileRequest(request, FILE_KIND_PATCH);
        request.Send(client.m_pConnect, MSG_GET_FILE);
        return true;
    }

    void ProcessMessage(short id, const char* data, int length) override
    {
        if (id == MSG_FILE_DATA) {
            const char* chunk = nullptr;
            int n = 0;
            ReadFileData(data, length, &chunk, &n);
            if (offset + n > m_Expected.size() || std::memcmp(chunk, m_Expected.data() + offset, n) != 0)
                bad = true;
            offset += static_cast<size_t>(n);
            client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
        } else if (id == MSG_FILE_END) {
            done = true;
            client.Disconnect();
        } else if (id != MSG_FILE_BEGIN) {
            bad = true;
        }
    }

    bool Over() const { return done || bad || !client.IsConnected(); }

    NET_CLIENT client;
    size_t offset = 0;
    bool done = false;
    bool bad = false;

private:
    const std::string& m_Expected;
};

} // namespace

int main(int argc, char** argv)
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    signal(SIGPIPE, SIG_IGN);
    const size_t patchMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 200;
    const size_t clientMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 16;

    char work[] = "/tmp/velgrim-download-bench-XXXXXX";
    if (mkdtemp(work) == nullptr)
        return 1;
    chmod(work, 0755);
    const std::string dir = work;
    const std::string program = VELGRIM_UPDATE_SERVER;

    std::printf("download benchmark, loopback, files written to disk (%s)\n", dir.c_str());
    const std::string patch = MakeContent(patchMiB << 20, 1);
    if (!MakeRelease(dir + "/release", patch))
        return 1;
    mkdir((dir + "/target").c_str(), 0755);
    double ours = -1;
    unsigned ticks = 0;
    {
        UPDATE_SERVER_PROCESS server;
        if (server.Start(program, dir + "/release", dir + "/server.log")) {
            ours = DownloaderRun(server.port, dir + "/target", patch, &ticks);
            std::printf("  server: %s\n", server.SentLine().c_str());
        }
    }
    unlink((dir + "/target/Velgrim_patch.rxpack").c_str());
    const double curl = CurlRun(dir + "/release", dir, patch);
    std::printf("  %zu MiB patch, DOWNLOADER at one Process per %u ms tick: %8.1f MB/s (%u ticks)\n", patchMiB,
                kTickMs, ours, ticks);
    std::printf("  %zu MiB patch, curl from nginx:                         %8.1f MB/s\n", patchMiB, curl);
    if (ours > 0 && curl > 0)
        std::printf("  ratio DOWNLOADER / curl: %.2f\n", ours / curl);
    std::fflush(stdout);

    // Many clients at once, each at the window's pace.
    const std::string shared = MakeContent(clientMiB << 20, 2);
    if (!MakeRelease(dir + "/release-many", shared))
        return 1;
    {
        UPDATE_SERVER_PROCESS server;
        if (!server.Start(program, dir + "/release-many", dir + "/server-many.log"))
            return 1;
        std::vector<std::unique_ptr<STREAM_CLIENT>> all;
        const uint64_t start = MonotonicMs();
        for (int i = 0; i < clients; ++i) {
            all.emplace_back(new STREAM_CLIENT(shared));
            if (!all.back()->Start(server.port)) {
                std::fprintf(stderr, "client %d could not connect\n", i);
                return 1;
            }
        }
        TICKER ticker;
        for (;;) {
            bool over = true;
            for (auto& c : all)
                over = over && c->Over();
            if (over || MonotonicMs() - start > 900000)
                break;
            ticker.Wait();
            for (auto& c : all)
                if (!c->Over())
                    c->client.Process();
        }
        const uint64_t ms = MonotonicMs() - start;
        int complete = 0;
        for (auto& c : all)
            complete += c->done && !c->bad && c->offset == shared.size() ? 1 : 0;
        const long peak = server.PeakKiB();
        std::printf("  %d clients x %zu MiB at one Process per tick each: %d complete, %8.1f MB/s aggregate, "
                    "server peak memory (VmHWM) %.1f MiB\n",
                    clients, clientMiB, complete, MBps(static_cast<uint64_t>(complete) * shared.size(), ms),
                    static_cast<double>(peak) / 1024.0);
    }
    std::string cleanup = "rm -rf '" + dir + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    WSACleanup();
    return 0;
}
