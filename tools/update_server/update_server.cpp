#include "update_server/update_server.h"

#include <algorithm>
#include <cstring>

#include "common/trace_log.h"
#include "platform/clock.h"
#include "platform/socket_poll.h"

namespace {

std::string PeerName(NET_CONNECT* connection)
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    socklen_t length = sizeof(address);
    if (getpeername(connection->m_Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return connection->m_strName;
    return connection->m_strName + ":" + std::to_string(ntohs(address.sin_port));
}

} // namespace

UPDATE_SERVER::UPDATE_SERVER(const SERVER_SETTINGS& settings) : m_Settings(settings)
{
    m_Server.m_pHandler = this;
}

UPDATE_SERVER::~UPDATE_SERVER()
{
    Stop();
}

bool UPDATE_SERVER::Start(std::shared_ptr<const RELEASE> release)
{
    m_Release = std::move(release);
    if (!m_Server.Init(m_Settings.port, m_Settings.address))
        return false;
    in_addr address;
    address.s_addr = htonl(static_cast<uint32_t>(m_Settings.address));
    g_trace->Log("update-server: listening on %s:%u, serving %s: %s\n", inet_ntoa(address), Port(),
                 m_Release->dir.c_str(), m_Release->Describe().c_str());
    return true;
}

unsigned short UPDATE_SERVER::Port() const
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    socklen_t length = sizeof(address);
    if (getsockname(m_Server.m_Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void UPDATE_SERVER::SetRelease(std::shared_ptr<const RELEASE> release)
{
    // Sessions read the release through a reference to this member: requests from now on
    // get the new one, transfers under way hold their file.
    m_Release = std::move(release);
}

size_t UPDATE_SERVER::ClientLimit(uint64_t descriptorLimit)
{
    if (descriptorLimit == 0)
        return 0;
    return static_cast<size_t>(descriptorLimit > 2 * kDescriptorReserve ? descriptorLimit - kDescriptorReserve
                                                                         : descriptorLimit / 2);
}

void UPDATE_SERVER::OnNewConnect(NET_CONNECT* connection)
{
    ++m_Counters.connectionsAccepted;
    m_Counters.queuedBytes += connection->Unsent(); // the greeting
    if (m_Settings.maxClients != 0 && m_Sessions.size() >= m_Settings.maxClients) {
        if (!m_bAtCap)
            g_trace->Log("update-server: %llu clients, as many as it may hold below its descriptor limit: new "
                         "clients are closed at once until some leave\n",
                         static_cast<unsigned long long>(m_Sessions.size()));
        m_bAtCap = true;
        ++m_Counters.dropped[DROP_CLIENT_CAP];
        m_Counters.unsentAtCloseBytes += connection->Unsent();
        connection->m_bReleased = true;
        return;
    }
    if (m_bAtCap)
        g_trace->Log("update-server: below the client cap again (%llu clients)\n",
                     static_cast<unsigned long long>(m_Sessions.size()));
    m_bAtCap = false;
    m_Sessions.emplace_back(new CLIENT_SESSION(connection, PeerName(connection), m_Release, m_Settings.limits,
                                               MonotonicMs(), &m_Counters));
}

void UPDATE_SERVER::AcceptClients(uint64_t nowMs)
{
    for (int i = 0; i < kAcceptsPerStep && m_Gate.IsOpen(nowMs); ++i) {
        if (m_Server.m_Socket == INVALID_SOCKET || SocketWaitReadable(m_Server.m_Socket, 0) != 1)
            return;
        const uint32_t before = m_Server.m_Connects.Count();
        m_Server.ProcessNewConnect();
        if (m_Server.m_Connects.Count() == before) {
            // A waiting client that could not be accepted: the accept's own error.
            m_Gate.OnFailure(WSAGetLastError(), nowMs, m_Sessions.size());
            return;
        }
        m_Gate.OnSuccess();
    }
}

void UPDATE_SERVER::EndSession(size_t index, uint64_t nowMs)
{
    CLIENT_SESSION& session = *m_Sessions[index];
    session.Finish(nowMs);
    m_Counters.unsentAtCloseBytes += session.Unsent();
    m_Sessions.erase(m_Sessions.begin() + static_cast<std::ptrdiff_t>(index));
}

void UPDATE_SERVER::DropStalledHog(uint64_t nowMs)
{
    CLIENT_SESSION* hog = nullptr;
    uint64_t most = 0;
    for (const std::unique_ptr<CLIENT_SESSION>& session : m_Sessions) {
        if (!session->Stalled(nowMs, m_Settings.limits.stallDropMs))
            continue;
        const uint64_t held = session->HeldBytes();
        if (held > most) {
            most = held;
            hog = session.get();
        }
    }
    if (hog != nullptr)
        hog->DropForMemory(nowMs);
}

SERVER_GAUGES UPDATE_SERVER::Gauges() const
{
    SERVER_GAUGES g;
    g.clients = m_Sessions.size();
    g.clientLimit = m_Settings.maxClients;
    uint64_t unsent = 0;
    for (const std::unique_ptr<CLIENT_SESSION>& session : m_Sessions) {
        g.transfers += session->InTransfer() ? 1 : 0;
        unsent += session->Unsent();
    }
    g.heldBytes = m_iHeld;
    g.budgetBytes = m_Settings.budgetBytes;
    const uint64_t gone = m_Counters.unsentAtCloseBytes + unsent;
    g.sentBytes = m_Counters.queuedBytes > gone ? m_Counters.queuedBytes - gone : 0;
    g.gameVersion = m_Release != nullptr ? m_Release->game_version : 0;
    g.updaterVersion = m_Release != nullptr ? m_Release->updater_version : 0;
    return g;
}

void UPDATE_SERVER::Step()
{
    AcceptClients(MonotonicMs());
    // Released connections are destroyed here, after their sessions have gone.
    m_Server.ProcessConnects();

    const uint64_t now = MonotonicMs();
    uint64_t held = 0;
    size_t transfers = 0;
    for (size_t i = 0; i < m_Sessions.size();) {
        CLIENT_SESSION& session = *m_Sessions[i];
        session.CheckFraming();
        if (session.IsOver(now)) {
            EndSession(i, now);
            continue;
        }
        session.SendMore(kSendPerStep);
        held += session.HeldBytes();
        transfers += session.InTransfer() ? 1 : 0;
        ++i;
    }

    // Each transfer's chunk is capped at its share of the budget; the pumping starts at a
    // different session each step so that none is always first to the budget.
    const uint64_t budget = m_Settings.budgetBytes;
    const uint64_t share = std::max<uint64_t>(CHUNK_PACER::kMinChunk, budget / std::max<size_t>(transfers, 1));
    const uint32_t maxChunk = static_cast<uint32_t>(std::min<uint64_t>(share, CHUNK_PACER::kMaxChunk));
    const size_t count = m_Sessions.size();
    bool starved = false;
    for (size_t k = 0; k < count; ++k) {
        CLIENT_SESSION& session = *m_Sessions[(m_iNextPump + k) % count];
        // A queued chunk will be held twice for a while: whole in the queue's block, and
        // in part in the kernel's buffer, until its last byte leaves the queue.
        const uint64_t room = budget > held ? (budget - held) / 2 : 0;
        const uint64_t before = session.Unsent();
        held += 2ull * session.Pump(now, room, maxChunk);
        const uint64_t after = session.Unsent();
        m_Counters.queuedBytes += after > before ? after - before : 0;
        starved = starved || (room < CHUNK_PACER::kMinChunk && session.WaitingForChunk());
        // What the step just queued starts going out at once.
        session.SendMore(NET_CONNECT::kMaxSendStep);
    }
    m_iNextPump = count > 0 ? (m_iNextPump + 1) % count : 0;
    m_iHeld = held;
    if (starved)
        DropStalledHog(now);
}

void UPDATE_SERVER::Wait(int maxMs, const std::vector<SOCKET_POLL_ENTRY>& also, uint64_t untilMs)
{
    ++m_Counters.loopWakeups;
    std::vector<SOCKET_POLL_ENTRY> entries;
    entries.reserve(m_Sessions.size() + also.size() + 1);
    entries.insert(entries.end(), also.begin(), also.end());
    const uint64_t now = MonotonicMs();
    uint64_t deadline = std::min(now + static_cast<uint64_t>(std::max(maxMs, 0)), untilMs);
    // A paused listening socket is left out of the wait: a waiting client keeps it ready.
    if (const uint64_t reopen = m_Gate.PausedUntil(now))
        deadline = std::min(deadline, reopen);
    else if (m_Server.m_Socket != INVALID_SOCKET)
        entries.push_back({m_Server.m_Socket, true, false});
    for (const std::unique_ptr<CLIENT_SESSION>& session : m_Sessions) {
        NET_CONNECT* c = session->Connection();
        if (c->m_Socket != INVALID_SOCKET && !c->m_bClosed)
            entries.push_back({c->m_Socket, true, session->WantsToSend()});
        deadline = std::min({deadline, session->IdleDeadline(), session->RateDeadline()});
    }
    const int timeout = deadline > now ? static_cast<int>(deadline - now) : 0;
    if (SocketPollMany(entries.data(), entries.size(), timeout) != SOCKET_ERROR) {
        m_bWaitFailing = false;
        return;
    }
    // The wait itself failed (Linux: more sockets than the descriptor limit, after the
    // limit was lowered under the running server): step at a bounded pace meanwhile.
    if (!m_bWaitFailing)
        g_trace->Log("update-server: waiting on %llu sockets failed (error %d): stepping every %d ms meanwhile\n",
                     static_cast<unsigned long long>(entries.size()), WSAGetLastError(), kFailedWaitMs);
    m_bWaitFailing = true;
    SleepMs(static_cast<unsigned int>(std::min(timeout, kFailedWaitMs)));
}

void UPDATE_SERVER::Stop()
{
    const uint64_t now = MonotonicMs();
    for (std::unique_ptr<CLIENT_SESSION>& session : m_Sessions) {
        session->Finish(now, "server stopping");
        m_Counters.unsentAtCloseBytes += session->Unsent();
    }
    m_Sessions.clear();
    m_Server.ProcessConnects();
    m_Server.Release();
}
