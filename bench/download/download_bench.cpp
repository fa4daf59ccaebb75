// Download throughput on loopback, written to disk:
//  1. one patch from update-server to the DOWNLOADER pumped once per 15 ms tick, as the
//     update window pumps it, beside the same file fetched by curl from nginx;
//  2. many concurrent tick-paced clients: aggregate MB/s and the server's peak memory.
//
//     download_bench [patch MiB = 256] [clients = 200] [MiB per client = 16]
//
// Needs nginx and curl on the PATH (or in /usr/sbin, /usr/bin).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "downloader/downloader.h"
#include "net/net_client.h"
#include "net/net_message_helper.h"
#include "protocol/update_messages.h"
#include "platform/clock.h"
#include "platform/socket_poll.h"
#include "platform/sockets.h"

namespace {

const unsigned kTickMs = 15;

bool WriteFileBytes(const std::string& path, const char* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::string ReadText(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Random bytes behind 48 zero ones: a package without entries, which update-server serves.
std::string MakeContent(size_t bytes, unsigned seed)
{
    std::string content(bytes, '\0');
    std::mt19937_64 random(seed);
    for (size_t i = 48; i + 8 <= bytes; i += 8) {
        const uint64_t v = random();
        std::memcpy(&content[i], &v, 8);
    }
    return content;
}

bool MakeRelease(const std::string& dir, const std::string& patch)
{
    mkdir(dir.c_str(), 0755);
    const std::string conf = "game_version = 2\n";
    return WriteFileBytes(dir + "/release.conf", conf.data(), conf.size()) &&
           WriteFileBytes(dir + "/Velgrim_patch.rxpack", patch.data(), patch.size());
}

// Starts a program with its output in logPath; -1 on failure.
pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void StopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

unsigned short FreePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    unsigned short port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}

bool WaitListening(unsigned short port, int timeoutMs)
{
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (MonotonicMs() < deadline) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        closesocket(s);
        if (ok)
            return true;
        SleepMs(20);
    }
    return false;
}

struct SERVER {
    pid_t pid = -1;
    unsigned short port = 0;
    std::string log;

    bool Start(const std::string& program, const std::string& release, const std::string& logPath)
    {
        log = logPath;
        pid = Spawn({program, "--listen", "127.0.0.1", "--port", "0", release}, logPath);
        const uint64_t deadline = MonotonicMs() + 10000;
        while (MonotonicMs() < deadline) {
            const std::string text = ReadText(log);
            const size_t at = text.find("listening on 127.0.0.1:");
            if (at != std::string::npos) {
                port = static_cast<unsigned short>(std::atoi(text.c_str() + at + 23));
                return port != 0;
            }
            SleepMs(10);
        }
        return false;
    }

    long PeakKiB() const
    {
        const std::string status = ReadText("/proc/" + std::to_string(pid) + "/status");
        const size_t at = status.find("VmHWM:");
        return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
    }

    ~SERVER() { StopProcess(pid); }
};

// Waits for the next tick of a 15 ms timer.
class TICKER {
public:
    void Wait()
    {
        const uint64_t now = MonotonicMs();
        if (m_iNext == 0)
            m_iNext = now;
        if (now < m_iNext)
            SleepMs(static_cast<unsigned>(m_iNext - now));
        m_iNext += kTickMs;
        // Fall behind rather than burst when a tick ran long, as a window timer does.
        if (m_iNext + kTickMs < MonotonicMs())
            m_iNext = MonotonicMs();
    }

private:
    uint64_t m_iNext = 0;
};

double MBps(uint64_t bytes, uint64_t ms)
{
    return ms > 0 ? static_cast<double>(bytes) / 1e6 / (static_cast<double>(ms) / 1000.0) : 0.0;
}

// The DOWNLOADER at the window's pace; MB/s including the write to disk, -1 on failure.
double DownloaderRun(unsigned short port, const std::string& targetDir, const std::string& expected, unsigned* ticks)
{
    DOWNLOADER downloader;
    if (!downloader.Connect("127.0.0.1", port) || !downloader.GetVelgrimInfo(10000))
        return -1;
    const uint64_t start = MonotonicMs();
    if (!downloader.GetFile(FILE_KIND_PATCH, targetDir.c_str()))
        return -1;
    TICKER ticker;
    *ticks = 0;
    while (!downloader.IsCompleteOrError() && MonotonicMs() - start < 600000) {
        ticker.Wait();
        downloader.Process();
        ++*ticks;
    }
    const uint64_t ms = MonotonicMs() - start;
    if (downloader.IsError())
        return -1;
    const std::string got = ReadText(targetDir + "/Velgrim_patch.rxpack");
    if (got != expected) {
        std::fprintf(stderr, "the downloaded file differs\n");
        return -1;
    }
    return MBps(expected.size(), ms);
}

// curl from nginx, to disk; MB/s, -1 on failure.
double CurlRun(const std::string& root, const std::string& work, const std::string& expected)
{
    const unsigned short port = FreePort();
    const std::string conf = work + "/nginx.conf";
    const std::string text = "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + work +
                             "/nginx.pid;\nerror_log " + work + "/nginx-error.log;\n"
                             "events { worker_connections 64; }\n"
                             "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
                             "  client_body_temp_path " + work + "/nginx-body;\n"
                             "  proxy_temp_path " + work + "/nginx-proxy;\n"
                             "  fastcgi_temp_path " + work + "/nginx-fastcgi;\n"
                             "  uwsgi_temp_path " + work + "/nginx-uwsgi;\n"
                             "  scgi_temp_path " + work + "/nginx-scgi;\n"
                             "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n"
                             "    root " + root + ";\n  }\n}\n";
    if (!WriteFileBytes(conf, text.data(), text.size()))
        return -1;
    const pid_t nginx = Spawn({"nginx", "-p", work, "-c", conf}, work + "/nginx.out");
    double mbps = -1;
    if (WaitListening(port, 5000)) {
        const std::string out = work + "/curl-download";
        const uint64_t start = MonotonicMs();
        const pid_t curl = Spawn({"curl", "-s", "-f", "-o", out,
                                  "http://127.0.0.1:" + std::to_string(port) + "/Velgrim_patch.rxpack"},
                                 work + "/curl.out");
        int status = 1;
        waitpid(curl, &status, 0);
        const uint64_t ms = MonotonicMs() - start;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && ReadText(out) == expected)
            mbps = MBps(expected.size(), ms);
        else
            std::fprintf(stderr, "curl failed (status %d)\n", status);
        unlink(out.c_str());
    } else {
        std::fprintf(stderr, "nginx did not start: %s\n", ReadText(work + "/nginx-error.log").c_str());
    }
    StopProcess(nginx);
    return mbps;
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
        SERVER server;
        if (server.Start(program, dir + "/release", dir + "/server.log")) {
            ours = DownloaderRun(server.port, dir + "/target", patch, &ticks);
            const std::string log = ReadText(dir + "/server.log");
            const size_t at = log.find(" sent Velgrim_patch.rxpack");
            if (at != std::string::npos)
                std::printf("  server: %s\n", log.substr(at + 1, log.find('\n', at) - at - 1).c_str());
        }
        else
            std::fprintf(stderr, "update-server did not start: %s\n", ReadText(dir + "/server.log").c_str());
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
        SERVER server;
        if (!server.Start(program, dir + "/release-many", dir + "/server-many.log")) {
            std::fprintf(stderr, "update-server did not start\n");
            return 1;
        }
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
