// update-server under its own limits (Linux): the status port under a flood, the
// descriptor limit, and clients that stop reading once their chunks have grown.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "downloader/downloader.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/socket_poll.h"
#include "protocol/update_protocol.h"
#include "support/downloader_peer.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"
#include "support/update_server_process.h"
#include "update_server/release.h"
#include "update_server/update_server.h"

namespace {

const std::string kProgram = VELGRIM_UPDATE_SERVER;
const char kPrlimit[] = "/usr/bin/prlimit";

// Random bytes, a 1 MiB block repeated: cheap to make, and no chunk looks like another.
// The first 48 are zero: a package without entries, which update-server serves.
std::string PatchBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string block(1u << 20, '\0');
    for (char& c : block)
        c = static_cast<char>(random() & 0xFF);
    std::string bytes;
    bytes.reserve(n);
    while (bytes.size() < n)
        bytes.append(block, 0, std::min(block.size(), n - bytes.size()));
    for (size_t i = 0; i < n; i += 4096)
        bytes[i] = static_cast<char>(i >> 12);
    std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(48, n)), '\0');
    return bytes;
}

std::string Get(unsigned short port, const std::string& path)
{
    return ExchangeLoopback(port, "GET " + path + " HTTP/1.1\r\nHost: test\r\n\r\n");
}

// The value of one sample on the /metrics page (-1 when missing).
long long Metric(unsigned short statusPort, const std::string& sample)
{
    const std::string page = Get(statusPort, "/metrics");
    const size_t at = page.find("\n" + sample + " ");
    return at == std::string::npos ? -1 : std::atoll(page.c_str() + at + sample.size() + 2);
}

// Bytes the kernel holds for sending on the sockets of a local port (/proc/net/tcp).
uint64_t KernelQueuedBytes(unsigned short port)
{
    std::string table;
    ReadWholeFile("/proc/net/tcp", &table);
    char local[16];
    std::snprintf(local, sizeof(local), ":%04X ", port);
    uint64_t total = 0;
    size_t at = table.find('\n');
    while (at != std::string::npos && at + 1 < table.size()) {
        const size_t end = table.find('\n', at + 1);
        const std::string line = table.substr(at + 1, end - at - 1);
        // "sl local rem st tx_queue:rx_queue ...": the local address is the second field.
        char sl[16], loc[64], rem[64], st[8];
        unsigned long tx = 0, rx = 0;
        if (std::sscanf(line.c_str(), "%15s %63s %63s %7s %lx:%lx", sl, loc, rem, st, &tx, &rx) == 6 &&
            (std::string(loc) + " ").find(local) != std::string::npos)
            total += tx;
        at = end;
    }
    return total;
}

size_t OpenDescriptors(pid_t pid)
{
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    size_t count = 0;
    while (dir != nullptr && readdir(dir) != nullptr)
        ++count;
    if (dir != nullptr)
        closedir(dir);
    return count > 2 ? count - 2 : 0; // less "." and ".."
}

void WriteRelease(const std::string& dir, const std::string& patch)
{
    ASSERT_TRUE(WriteWholeFile(dir + "/release.conf", "game_version = 5\n"));
    ASSERT_TRUE(WriteWholeFile(dir + "/Velgrim_patch.rxpack", patch));
}

// A downloader that fetches the whole patch; true when it arrived as it should.
bool DownloadWhole(unsigned short port, const std::string& patch, int timeoutMs = 60000)
{
    TEMP_DIR target;
    DOWNLOADER d;
    if (!d.Connect("127.0.0.1", port) || !d.GetFile(FILE_KIND_PATCH, target.Path().c_str()))
        return false;
    if (!PumpUntil(d, [&] { return d.IsCompleteOrError(); }, timeoutMs) || d.IsError())
        return false;
    std::string got;
    return ReadWholeFile(target / "Velgrim_patch.rxpack", &got) && got == patch;
}

// A client that takes chunks as fast as they come and acknowledges each, until it has
// `stopAfter` bytes; then it reads nothing more and stays connected.
class STALLING_READER {
public:
    bool Start(unsigned short port, size_t stopAfter)
    {
        m_iStopAfter = stopAfter;
        socket.Reset(ConnectLoopback(port, 256 << 10));
        return socket.Get() != INVALID_SOCKET &&
               SendAll(socket.Get(), Frame(MSG_GET_FILE, std::string("\xEA\x03\0\0\0\0\0\0\0\0\0\0", 12)));
    }

    void Pump()
    {
        if (stalled || SocketWaitReadable(socket.Get(), 0) != 1)
            return;
        char buffer[1 << 16];
        const int n = static_cast<int>(recv(socket.Get(), buffer, sizeof(buffer), 0));
        if (n <= 0) {
            stalled = true; // closed: nothing more to do
            closed = true;
            return;
        }
        m_Buffer.append(buffer, static_cast<size_t>(n));
        while (m_Buffer.size() >= 8) {
            uint32_t id = 0, length = 0;
            std::memcpy(&id, m_Buffer.data(), 4);
            std::memcpy(&length, m_Buffer.data() + 4, 4);
            if (m_Buffer.size() < 8 + length)
                break;
            m_Buffer.erase(0, 8 + length);
            if (id == static_cast<uint32_t>(MSG_FILE_DATA)) {
                received += length - 4;
                SendAll(socket.Get(), Frame(MSG_FILE_DATA_ACK, ""));
            }
        }
        stalled = received >= m_iStopAfter;
    }

    SOCKET_HOLDER socket;
    size_t received = 0;
    bool stalled = false;
    bool closed = false;

private:
    size_t m_iStopAfter = 0;
    std::string m_Buffer;
};

class ServerLimits : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Several hundred client sockets on this side too.
        RaiseDescriptorLimit();
    }

    void Start(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"--status-listen", "127.0.0.1:0"};
        all.insert(all.end(), args.begin(), args.end());
        ASSERT_TRUE(server.Start(release.Path(), logs / "server.log", all)) << server.Log();
        status = server.StatusPort();
        ASSERT_NE(status, 0) << server.Log();
    }

    static bool Root() { return geteuid() == 0; }

    TEMP_DIR release;
    TEMP_DIR logs;
    UPDATE_SERVER_PROCESS server{kProgram};
    unsigned short status = 0;
};

} // namespace

TEST_F(ServerLimits, StatusPortRefusesFloodsWithoutDisturbingPlayers)
{
    const std::string patch = PatchBytes(6u << 20, 1);
    WriteRelease(release.Path(), patch);
    Start({});

    // Oversized heads, then more slow requests than the port takes at once.
    std::vector<std::unique_ptr<SOCKET_HOLDER>> big;
    for (int i = 0; i < 4; ++i) {
        big.emplace_back(new SOCKET_HOLDER(ConnectLoopback(status)));
        ASSERT_TRUE(SendAll(big.back()->Get(), "GET /" + std::string(6000, 'a') + " HTTP/1.1\r\n\r\n"));
    }
    std::vector<std::unique_ptr<SOCKET_HOLDER>> slow;
    for (int i = 0; i < 24; ++i) {
        slow.emplace_back(new SOCKET_HOLDER(ConnectLoopback(status)));
        ASSERT_TRUE(SendAll(slow.back()->Get(), "GET /metrics HTTP/1.1\r\nHost: x\r\n"));
    }
    // The players' port serves meanwhile.
    EXPECT_TRUE(DownloadWhole(server.Port(), patch));

    auto statusLine = [](SOCKET s) {
        std::string answer;
        RecvExactly(s, 12, &answer, 5000);
        return answer;
    };
    for (auto& s : big)
        EXPECT_EQ(statusLine(s->Get()), "HTTP/1.1 431");
    int timedOut = 0;
    int busy = 0;
    for (auto& s : slow) {
        const std::string line = statusLine(s->Get());
        timedOut += line == "HTTP/1.1 408" ? 1 : 0;
        busy += line == "HTTP/1.1 503" ? 1 : 0;
        EXPECT_TRUE(WaitPeerClosed(s->Get(), 3000));
    }
    EXPECT_EQ(timedOut + busy, 24);
    EXPECT_GE(busy, 24 - 16) << "at most 16 at once";
    EXPECT_LE(timedOut, 16);

    // Afterwards: answered as usual, the refusals counted.
    EXPECT_NE(Get(status, "/load").find("\r\n\r\n0 1000 0 5 0\n"), std::string::npos);
    EXPECT_GE(Metric(status, "velgrim_update_server_status_requests_total{outcome=\"refused\"}"), 28);
    EXPECT_EQ(Metric(status, "velgrim_update_server_files_sent_total{kind=\"patch\"}"), 1);
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(ServerLimits, AStatusPortThatCannotBeHadStopsTheStart)
{
    WriteRelease(release.Path(), PatchBytes(100, 3));
    unsigned short port = 0;
    SOCKET_HOLDER taken(ListenLoopback(&port));
    std::string output;
    const std::string where = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(UPDATE_SERVER_PROCESS::Run(kProgram, {"--listen", "127.0.0.1", "--port", "0", "--status-listen", where,
                                                    release.Path()},
                                         &output),
              1);
    EXPECT_NE(output.find("cannot listen on " + where + " for status"), std::string::npos) << output;
}

TEST_F(ServerLimits, AtTheDescriptorLimitItNeitherSpinsNorStopsServing)
{
    if (!Root() || access(kPrlimit, X_OK) != 0)
        GTEST_SKIP() << "needs root and prlimit";
    const std::string patch = PatchBytes(1u << 20, 2);
    WriteRelease(release.Path(), patch);
    server.SetWrapper({kPrlimit, "--nofile=256:256", "--"});
    Start({});
    const std::string capLine = "descriptor limit 256: at most 208 clients at once";
    ASSERT_TRUE(server.WaitForLog(capLine)) << server.Log();

    // 300 idle clients: 208 are held, the rest closed at once.
    std::vector<std::unique_ptr<SOCKET_HOLDER>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.emplace_back(new SOCKET_HOLDER(ConnectLoopback(server.Port())));
        ASSERT_NE(idle.back()->Get(), INVALID_SOCKET) << i;
    }
    ASSERT_TRUE(server.WaitForLog("208 clients, as many as it may hold")) << server.Log();
    // Each client sees the greeting (held) or the end of the stream (closed).
    std::vector<int> seen(idle.size(), 0); // 1: greeted, 2: closed
    int closed = 0;
    int greeted = 0;
    const uint64_t deadline = MonotonicMs() + 10000;
    while (closed + greeted < 300 && MonotonicMs() < deadline) {
        for (size_t i = 0; i < idle.size(); ++i) {
            if (seen[i] != 0 || SocketWaitReadable(idle[i]->Get(), 0) != 1)
                continue;
            char bytes[64];
            seen[i] = recv(idle[i]->Get(), bytes, sizeof(bytes), 0) > 0 ? 1 : 2;
            (seen[i] == 1 ? greeted : closed) += 1;
        }
        SleepMs(10);
    }
    EXPECT_EQ(greeted, 208);
    EXPECT_EQ(closed, 92);
    EXPECT_NE(Get(status, "/load").find("\r\n\r\n208 1000 0 5 0\n"), std::string::npos);
    EXPECT_EQ(Metric(status, "velgrim_update_server_connections_dropped_total{reason=\"client_cap\"}"), 92);

    // Nothing wakes it up while the clients sit there.
    const long long wakeups = Metric(status, "velgrim_update_server_loop_wakeups_total");
    const long ticks = server.CpuTicks();
    SleepMs(1500);
    EXPECT_LT(Metric(status, "velgrim_update_server_loop_wakeups_total") - wakeups, 30);
    RecordProperty("cpu_ticks_idle_at_cap", static_cast<int>(server.CpuTicks() - ticks));

    // Room again: a player is served.
    std::vector<std::unique_ptr<SOCKET_HOLDER>> held;
    for (size_t i = 0; i < idle.size(); ++i)
        if (seen[i] == 1 && held.size() < 190)
            held.push_back(std::move(idle[i]));
    idle.clear();
    const uint64_t roomBy = MonotonicMs() + 5000;
    while (Get(status, "/load").find("\r\n\r\n190 ") == std::string::npos && MonotonicMs() < roomBy)
        SleepMs(20);
    EXPECT_TRUE(DownloadWhole(server.Port(), patch));
    EXPECT_TRUE(server.WaitForLog("below the client cap again")) << server.Log();

    // The limit drops to what is open (other files took the room the cap kept): accepting
    // pauses (one line), no spinning, and goes on once descriptors are to be had.
    const long long before = Metric(status, "velgrim_update_server_loop_wakeups_total");
    const size_t open = OpenDescriptors(server.Pid());
    ASSERT_GT(open, 190u);
    ASSERT_EQ(std::system(("/usr/bin/prlimit --pid " + std::to_string(server.Pid()) + " --nofile=" +
                           std::to_string(open) + ":256")
                              .c_str()),
              0);
    std::vector<std::unique_ptr<SOCKET_HOLDER>> late;
    for (int i = 0; i < 5; ++i)
        late.emplace_back(new SOCKET_HOLDER(ConnectLoopback(server.Port())));
    ASSERT_TRUE(server.WaitForLog("players' port: cannot accept (error 24")) << server.Log();
    SleepMs(1500);
    ASSERT_EQ(std::system(("/usr/bin/prlimit --pid " + std::to_string(server.Pid()) + " --nofile=256:256").c_str()),
              0);
    ASSERT_TRUE(server.WaitForLog("players' port: accepting again")) << server.Log();
    for (auto& s : late) {
        std::string greeting;
        EXPECT_TRUE(RecvExactly(s->Get(), 8, &greeting, 5000));
    }
    EXPECT_LT(Metric(status, "velgrim_update_server_loop_wakeups_total") - before, 60);
    const std::string log = server.Log();
    EXPECT_EQ(log.find("players' port: cannot accept"), log.rfind("players' port: cannot accept")) << "logged once";
    EXPECT_EQ(log.find("status port: cannot accept"), std::string::npos) << "nobody asked there";
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(ServerLimits, StalledReadersStayWithinTheBudgetAndAGoodClientIsServed)
{
    if (!Root())
        GTEST_SKIP() << "needs root: the kernel's send buffers may then grow past the system's cap";
    const uint64_t budget = 32ull << 20;
    const std::string patch = PatchBytes(48u << 20, 3);
    WriteRelease(release.Path(), patch);
    Start({"--budget-mib", "32"});
    const long baseKiB = server.MemoryKiB("VmRSS");

    // Six clients take chunks fast until their chunks have grown, then stop reading.
    std::vector<std::unique_ptr<STALLING_READER>> readers;
    for (int i = 0; i < 6; ++i) {
        readers.emplace_back(new STALLING_READER);
        ASSERT_TRUE(readers.back()->Start(server.Port(), 12u << 20));
    }
    const uint64_t deadline = MonotonicMs() + 60000;
    for (bool all = false; !all && MonotonicMs() < deadline;) {
        all = true;
        std::vector<SOCKET_POLL_ENTRY> waiting;
        for (auto& r : readers) {
            r->Pump();
            all = all && r->stalled;
            if (!r->stalled)
                waiting.push_back({r->socket.Get(), true, false});
        }
        SocketPollMany(waiting.data(), waiting.size(), 10);
    }
    for (auto& r : readers)
        ASSERT_TRUE(r->stalled && !r->closed) << r->received;

    // Settled: the kernel's queues have stopped growing.
    uint64_t kernel = KernelQueuedBytes(server.Port());
    for (uint64_t previous = UINT64_MAX; kernel != previous && MonotonicMs() < deadline;) {
        SleepMs(300);
        previous = kernel;
        kernel = KernelQueuedBytes(server.Port());
    }
    const uint64_t process = static_cast<uint64_t>(server.MemoryKiB("VmRSS") - baseKiB) << 10;
    RecordProperty("stalled_process_kib", static_cast<int>(process >> 10));
    RecordProperty("stalled_kernel_kib", static_cast<int>(kernel >> 10));
    std::printf("stalled readers: process +%llu KiB, kernel %llu KiB, budget %llu KiB, server counts %lld KiB\n",
                static_cast<unsigned long long>(process >> 10), static_cast<unsigned long long>(kernel >> 10),
                static_cast<unsigned long long>(budget >> 10),
                Metric(status, "velgrim_update_server_queued_bytes") >> 10);
    // Room for the allocator's own keeping: the sanitizer's quarantine of freed blocks
    // (4 MiB in these runs), its shadow of the live ones, buffers of the connections.
    EXPECT_LE(process + kernel, budget + (12u << 20)) << "process " << (process >> 10) << " KiB, kernel "
                                                     << (kernel >> 10) << " KiB";
    const long long queued = Metric(status, "velgrim_update_server_queued_bytes");
    EXPECT_GT(queued, 0);
    EXPECT_LE(static_cast<uint64_t>(queued), budget);

    // A good client still gets the file, within what the budget leaves, or once stalled
    // readers have given way to it.
    EXPECT_TRUE(DownloadWhole(server.Port(), patch));
    EXPECT_EQ(server.Stop(), 0);
}

TEST(UpdateServerBudget, AStalledClientGivesWayToOneThatWaits)
{
    TEMP_DIR dir;
    const std::string patch = PatchBytes(2u << 20, 4);
    WriteRelease(dir.Path(), patch);
    std::string error;
    std::shared_ptr<const RELEASE> release = LoadRelease(dir.Path(), &error);
    ASSERT_NE(release, nullptr) << error;
    SERVER_SETTINGS settings;
    settings.port = 0;
    settings.address = INADDR_LOOPBACK;
    settings.budgetBytes = 512u << 10;
    settings.limits.stallMs = 100;
    settings.limits.stallDropMs = 400;
    UPDATE_SERVER server(settings);
    ASSERT_TRUE(server.Start(release));
    auto step = [&] {
        server.Step();
        server.Wait(5);
    };

    // A client that asks and then reads nothing: what it was sent holds the budget.
    SOCKET_HOLDER stalled(ConnectLoopback(server.Port(), 4096));
    ASSERT_TRUE(SendAll(stalled.Get(), Frame(MSG_GET_FILE, Dword(FILE_KIND_PATCH) + Dword(0) + Dword(0))));
    uint64_t deadline = MonotonicMs() + 5000;
    while (server.Gauges().heldBytes + (128u << 10) < settings.budgetBytes && MonotonicMs() < deadline)
        step();
    ASSERT_GE(server.Gauges().heldBytes + (128u << 10), settings.budgetBytes);

    // One that reads waits for the budget: the stalled one is dropped for it.
    TEMP_DIR target;
    DOWNLOADER good;
    ASSERT_TRUE(good.Connect("127.0.0.1", server.Port()));
    ASSERT_TRUE(good.GetFile(FILE_KIND_PATCH, target.Path().c_str()));
    deadline = MonotonicMs() + 30000;
    while (!good.IsCompleteOrError() && MonotonicMs() < deadline) {
        step();
        good.Process();
    }
    ASSERT_TRUE(good.IsCompleteOrError());
    EXPECT_FALSE(good.IsError());
    std::string got;
    ASSERT_TRUE(ReadWholeFile(target / "Velgrim_patch.rxpack", &got));
    EXPECT_TRUE(got == patch);
    EXPECT_EQ(server.Counters()->dropped[DROP_STALLED], 1u);

    // Reset rather than closed: the kernel keeps nothing queued for it.
    good.Close();
    deadline = MonotonicMs() + 3000;
    while ((server.ClientCount() > 0 || KernelQueuedBytes(server.Port()) > 0) && MonotonicMs() < deadline)
        step();
    EXPECT_EQ(KernelQueuedBytes(server.Port()), 0u);
    server.Stop();
}

#endif
