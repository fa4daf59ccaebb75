// The download comparison on links of real speeds and delays (run as root):
//
//     link_bench [--small MiB] [--large MiB] [--runs N] [--only TEXT]
//
// Inside a network namespace of its own, update-server and nginx each sit behind a
// delay_relay that holds every byte for half the round trip in each direction; the
// relays' packets to their clients pass a token bucket (tbf) of the link's rate. Each
// row puts the launcher's download (the DOWNLOADER in a process of its own, tick_download,
// one Process per 15 ms tick) beside curl's from nginx, both written to disk, and gives
// the launcher's peak resident memory. The unlimited row uses neither relays nor
// shaping. The mirror rows put the launcher's mirror download (MIRROR_FETCH in
// mirror_download, polled per tick) beside curl, both through one Varnish in front of
// nginx, its cache warmed first; there Varnish's own port is shaped. With several runs a
// row gives the medians. Everything it starts it stops, and the namespace goes with it.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_processes.h"
#include "link_shaper.h"
#include "platform/crypto.h"
#include "platform/sockets.h"
#include "release/hex_text.h"

namespace {

const char* const kUsage =
    "usage: link_bench [--small MiB] [--large MiB] [--runs N] [--only TEXT]\n"
    "  --small  patch for the 100 Mbit/s rows (64)\n"
    "  --large  patch for the 1 Gbit/s and unlimited rows (256)\n"
    "  --runs   runs per row; a row gives the medians (1, at most 20)\n"
    "  --only   only the rows whose name holds TEXT, e.g. \"1 Gbit\", \"40 ms\", \"mirror\"\n"
    "Needs root, nginx, curl and (for the mirror rows) varnishd.\n";

struct ROW {
    const char* name;
    uint64_t bitsPerSecond; // 0: unshaped
    int rttMs;              // -1: no relay
    bool large;
    bool mirror; // through Varnish: MIRROR_FETCH against curl
};

const ROW kRows[] = {
    {"100 Mbit/s,  0 ms", 100000000, 0, false, false},
    {"100 Mbit/s, 40 ms", 100000000, 40, false, false},
    {"1 Gbit/s,    0 ms", 1000000000, 0, true, false},
    {"1 Gbit/s,   40 ms", 1000000000, 40, true, false},
    {"unlimited", 0, -1, true, false},
    {"mirror, 1 Gbit/s", 1000000000, -1, true, true},
    {"mirror, unlimited", 0, -1, true, true},
};

// A delay_relay in front of 127.0.0.1:upstreamPort.
struct RELAY_PROCESS {
    pid_t pid = -1;
    unsigned short port = 0;

    bool Start(unsigned short upstreamPort, int oneWayMs, const std::string& logPath)
    {
        pid = Spawn({VELGRIM_DELAY_RELAY, "127.0.0.1", "127.0.0.1:" + std::to_string(upstreamPort),
                     std::to_string(oneWayMs)},
                    logPath);
        port = static_cast<unsigned short>(WaitLogNumber(logPath, "listening on 127.0.0.1:", 5000));
        if (port == 0)
            std::fprintf(stderr, "delay_relay did not start: %s\n", ReadText(logPath).c_str());
        return port != 0;
    }
    ~RELAY_PROCESS() { StopProcess(pid); }
};

struct RUN {
    double mbps = -1;
    long peakKiB = 0;
    unsigned long long ms = 0;
    unsigned long long lastByteMs = 0;
};

// Varnish on 127.0.0.1 in front of 127.0.0.1:originPort, caching in memory for an hour.
struct VARNISH_PROCESS {
    pid_t pid = -1;
    unsigned short port = 0;

    bool Start(unsigned short originPort, const std::string& dir, size_t cacheMiB)
    {
        port = FreePort();
        mkdir(dir.c_str(), 0755);
        pid = Spawn({"varnishd", "-F", "-j", "none", "-n", dir, "-a", "127.0.0.1:" + std::to_string(port), "-b",
                     "127.0.0.1:" + std::to_string(originPort), "-s", "malloc," + std::to_string(cacheMiB) + "m",
                     "-t", "3600"},
                    dir + ".out");
        if (WaitListening(port, 20000))
            return true;
        std::fprintf(stderr, "varnishd did not start: %s\n", ReadText(dir + ".out").c_str());
        return false;
    }
    ~VARNISH_PROCESS() { StopProcess(pid); }
};

// The launcher's download in its own process: tick_download from update-server at
// `port`, or with `mirrorBase` mirror_download of the object of that hash there.
RUN LauncherRun(unsigned short port, const std::string& mirrorBase, const std::string& sha256,
                const std::string& work, const std::string& expected, uint64_t timeoutMs)
{
    RUN run;
    const std::string target = work + "/target";
    const std::string log = work + "/tick_download.out";
    std::vector<std::string> args = {VELGRIM_TICK_DOWNLOAD, "127.0.0.1", std::to_string(port), target,
                                     std::to_string(timeoutMs / 1000)};
    if (!mirrorBase.empty())
        args = {VELGRIM_MIRROR_DOWNLOAD, mirrorBase, std::to_string(expected.size()), sha256, target,
                std::to_string(timeoutMs / 1000)};
    const pid_t pid = Spawn(args, log);
    const bool ok = WaitExit(pid, timeoutMs + 15000);
    const std::string file = target + "/Velgrim_patch.rxpack";
    unsigned long long bytes = 0;
    unsigned ticks = 0;
    long peakKiB = 0;
    if (!ok || std::sscanf(ReadText(log).c_str(), "%llu %llu %u %ld %llu", &bytes, &run.ms, &ticks, &peakKiB,
                           &run.lastByteMs) != 5)
        std::fprintf(stderr, "the launcher's download failed: %s\n", ReadText(log).c_str());
    else if (ReadText(file) != expected)
        std::fprintf(stderr, "the launcher's file differs\n");
    else
        run.mbps = MBps(bytes, run.ms);
    run.peakKiB = peakKiB;
    unlink(file.c_str());
    return run;
}

RUN CurlRun(unsigned short port, const std::string& path, const std::string& work, const std::string& expected,
            uint64_t timeoutMs)
{
    RUN run;
    const std::string out = work + "/curl-download";
    const int64_t ms = CurlDownload("http://127.0.0.1:" + std::to_string(port) + path, out, work + "/curl.out",
                                    timeoutMs);
    if (ms >= 0 && ReadText(out) == expected)
        run.mbps = MBps(expected.size(), static_cast<uint64_t>(ms));
    else if (ms >= 0)
        std::fprintf(stderr, "curl's file differs\n");
    unlink(out.c_str());
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// Starts the servers and runs every row; false when something could not be started.
bool RunRows(const std::string& work, const std::string& small, const std::string& large, unsigned long smallMiB,
             unsigned long largeMiB, int runs, const std::string& only)
{
    UPDATE_SERVER_PROCESS smallServer;
    UPDATE_SERVER_PROCESS largeServer;
    NGINX_PROCESS nginx;
    VARNISH_PROCESS varnish;
    LINK_SHAPER shaper;
    if (!MakeRelease(work + "/small", small) || !MakeRelease(work + "/large", large) ||
        !smallServer.Start(VELGRIM_UPDATE_SERVER, work + "/small", work + "/server-small.log") ||
        !largeServer.Start(VELGRIM_UPDATE_SERVER, work + "/large", work + "/server-large.log") ||
        !nginx.Start(work, work))
        return false;
    // The large patch as a mirror's object, by its hash.
    uint8_t digest[SHA256_DIGEST_SIZE];
    Sha256(large.data(), large.size(), digest);
    const std::string sha256 = HexLower(digest, sizeof digest);
    const std::string objectPath = "/cdn/objects/" + sha256;
    mkdir((work + "/cdn").c_str(), 0755);
    mkdir((work + "/cdn/objects").c_str(), 0755);
    if (!WriteFileBytes(work + objectPath, large.data(), large.size()))
        return false;

    std::printf("link benchmark: update-server -> launcher (one Process per 15 ms tick) vs nginx -> curl, "
                "files written to disk, %d run(s) per row (%s)\n",
                runs, work.c_str());
    std::printf("%-18s %5s | %9s %9s | %6s | %12s\n", "link, round trip", "MiB", "launcher", "curl", "ratio",
                "peak RSS MiB");
    std::printf("%-18s %5s | %9s %9s | %6s | %12s\n", "", "", "MB/s", "MB/s", "", "launcher");
    std::fflush(stdout);
    for (const ROW& row : kRows) {
        if (std::string(row.name).find(only) == std::string::npos)
            continue;
        const std::string& expected = row.large ? large : small;
        UPDATE_SERVER_PROCESS& server = row.large ? largeServer : smallServer;
        std::string path = row.large ? "/large/Velgrim_patch.rxpack" : "/small/Velgrim_patch.rxpack";
        std::string mirrorBase;
        const double seconds = row.bitsPerSecond > 0 ? expected.size() * 8.0 / row.bitsPerSecond : 1.0;
        const uint64_t timeoutMs = static_cast<uint64_t>(seconds * 4000) + 30000;
        RELAY_PROCESS toServer;
        RELAY_PROCESS toNginx;
        unsigned short serverPort = server.port;
        unsigned short nginxPort = nginx.port;
        if (row.rttMs >= 0) {
            if (!toServer.Start(server.port, row.rttMs / 2, work + "/relay-server.log") ||
                !toNginx.Start(nginx.port, row.rttMs / 2, work + "/relay-nginx.log"))
                return false;
            serverPort = toServer.port;
            nginxPort = toNginx.port;
        }
        if (row.mirror) {
            // One Varnish for the mirror rows, its cache filled by a first fetch.
            const std::string warm = work + "/warm-download";
            if (varnish.pid < 0 &&
                (!varnish.Start(nginx.port, work + "/varnish", (largeMiB + 64) * 2) ||
                 CurlDownload("http://127.0.0.1:" + std::to_string(varnish.port) + objectPath, warm,
                              work + "/curl.out", timeoutMs) < 0))
                return false;
            unlink(warm.c_str());
            nginxPort = varnish.port;
            path = objectPath;
            mirrorBase = "http://127.0.0.1:" + std::to_string(varnish.port) + "/cdn";
        }
        const std::vector<unsigned short> shaped =
            row.mirror ? std::vector<unsigned short>{varnish.port} : std::vector<unsigned short>{toServer.port, toNginx.port};
        if (row.bitsPerSecond > 0 && !shaper.Shape(row.bitsPerSecond, shaped))
            return false;
        std::vector<double> ours, theirs, lastBytes, totals;
        long peakKiB = 0;
        for (int i = 0; i < runs; ++i) {
            const RUN launcher = LauncherRun(serverPort, mirrorBase, sha256, work, expected, timeoutMs);
            const RUN curl = CurlRun(nginxPort, path, work, expected, timeoutMs);
            ours.push_back(launcher.mbps);
            theirs.push_back(curl.mbps);
            lastBytes.push_back(static_cast<double>(launcher.lastByteMs));
            totals.push_back(static_cast<double>(launcher.ms));
            peakKiB = std::max(peakKiB, launcher.peakKiB);
        }
        shaper.Clear();
        const double a = Median(ours);
        const double c = Median(theirs);
        std::printf("%-18s %5lu | %9.1f %9.1f | %6.2f | %12.0f\n", row.name, row.large ? largeMiB : smallMiB, a, c,
                    a > 0 && c > 0 ? a / c : 0.0, peakKiB / 1024.0);
        // Where the launcher's time went (medians): the transfer and its checks, then the
        // flush and the rename that keep the file.
        std::printf("    launcher: every byte in and checked after %.0f ms, the file under its name after %.0f ms; "
                    "last transfer: %s\n",
                    Median(lastBytes), Median(totals), row.mirror ? "through Varnish" : server.SentLine().c_str());
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long smallMiB = 64;
    unsigned long largeMiB = 256;
    unsigned long runs = 1;
    std::string only;
    bool good = true;
    for (int i = 1; i < argc && good; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        good = value != nullptr;
        if (!good)
            break;
        ++i;
        if (option == "--small")
            smallMiB = std::strtoul(value, nullptr, 10);
        else if (option == "--large")
            largeMiB = std::strtoul(value, nullptr, 10);
        else if (option == "--runs")
            runs = std::strtoul(value, nullptr, 10);
        else if (option == "--only")
            only = value;
        else
            good = false;
    }
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (!good || smallMiB == 0 || largeMiB == 0 || smallMiB > 4000 || largeMiB > 4000 || runs < 1 || runs > 20) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "link_bench needs root: it makes a network namespace and shapes its loopback\n");
        return 2;
    }
    if (!EnterOwnNetworkNamespace())
        return 1;
    WSADATA data;
    WSAStartup(0x0101, &data);

    char workTemplate[] = "/tmp/velgrim-link-bench-XXXXXX";
    if (mkdtemp(workTemplate) == nullptr)
        return 1;
    chmod(workTemplate, 0755);
    const std::string work = workTemplate;
    mkdir((work + "/target").c_str(), 0755);
    const std::string small = MakeContent(smallMiB << 20, 1);
    const std::string large = MakeContent(largeMiB << 20, 2);
    const int status = RunRows(work, small, large, smallMiB, largeMiB, static_cast<int>(runs), only) ? 0 : 1;
    const std::string cleanup = "rm -rf '" + work + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", work.c_str());
    WSACleanup();
    return status;
}
