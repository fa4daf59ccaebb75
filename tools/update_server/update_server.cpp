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

void UPDATE_SERVER::OnNewConnect(NET_CONNECT* connection)
{
    m_Sessions.emplace_back(
        new CLIENT_SESSION(connection, PeerName(connection), m_Release, m_Settings.limits, MonotonicMs()));
}

void UPDATE_SERVER::Step()
{
    for (int i = 0; i < kAcceptsPerStep; ++i) {
        const size_t before = m_Sessions.size();
        m_Server.ProcessNewConnect();
        if (m_Sessions.size() == before)
            break;
    }
    // Released connections are destroyed here, after their sessions have gone.
    m_Server.ProcessConnects();

    const uint64_t now = MonotonicMs();
    uint64_t unsent = 0;
    size_t transfers = 0;
    for (size_t i = 0; i < m_Sessions.size();) {
        CLIENT_SESSION& session = *m_Sessions[i];
        session.CheckFraming();
        if (session.IsOver(now)) {
            session.Finish(now);
            m_Sessions.erase(m_Sessions.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        session.SendMore(kSendPerStep);
        unsent += session.Unsent();
        transfers += session.InTransfer() ? 1 : 0;
        ++i;
    }

    // Each transfer's chunk is capped at its share of the budget; the pumping starts at a
    // different session each step so that none is always first to the budget.
    const uint64_t budget = m_Settings.budgetBytes;
    const uint64_t share = std::max<uint64_t>(CHUNK_PACER::kMinChunk, budget / std::max<size_t>(transfers, 1));
    const uint32_t maxChunk = static_cast<uint32_t>(std::min<uint64_t>(share, CHUNK_PACER::kMaxChunk));
    const size_t count = m_Sessions.size();
    for (size_t k = 0; k < count; ++k) {
        CLIENT_SESSION& session = *m_Sessions[(m_iNextPump + k) % count];
        unsent += session.Pump(now, budget > unsent ? budget - unsent : 0, maxChunk);
        // What the step just queued starts going out at once.
        session.SendMore(NET_CONNECT::kMaxSendStep);
    }
    m_iNextPump = count > 0 ? (m_iNextPump + 1) % count : 0;
}

void UPDATE_SERVER::Wait(int maxMs, SOCKET wakeFd)
{
    std::vector<SOCKET_POLL_ENTRY> entries;
    entries.reserve(m_Sessions.size() + 2);
    if (m_Server.m_Socket != INVALID_SOCKET)
        entries.push_back({m_Server.m_Socket, true, false});
    if (wakeFd != INVALID_SOCKET)
        entries.push_back({wakeFd, true, false});
    const uint64_t now = MonotonicMs();
    uint64_t deadline = now + static_cast<uint64_t>(std::max(maxMs, 0));
    for (const std::unique_ptr<CLIENT_SESSION>& session : m_Sessions) {
        NET_CONNECT* c = session->Connection();
        if (c->m_Socket != INVALID_SOCKET && !c->m_bClosed)
            entries.push_back({c->m_Socket, true, session->Unsent() > 0});
        deadline = std::min({deadline, session->IdleDeadline(), session->RateDeadline()});
    }
    const int timeout = deadline > now ? static_cast<int>(deadline - now) : 0;
    SocketPollMany(entries.data(), entries.size(), timeout);
}

void UPDATE_SERVER::Stop()
{
    const uint64_t now = MonotonicMs();
    for (std::unique_ptr<CLIENT_SESSION>& session : m_Sessions)
        session->Finish(now, "server stopping");
    m_Sessions.clear();
    m_Server.ProcessConnects();
    m_Server.Release();
}
