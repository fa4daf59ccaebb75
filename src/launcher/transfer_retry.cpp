#include "launcher/transfer_retry.h"

#include <algorithm>

#include "common/trace_log.h"
#include "common/whole_percent.h"
#include "platform/clock.h"

namespace {

// The list is the web host's text: shown with its control characters taken out.
std::string Named(const SERVER_ENDPOINT& server)
{
    std::string name = server.address;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return name + ":" + std::to_string(server.port);
}

} // namespace

void TRANSFER_RETRY::Prepare(const std::vector<SERVER_ENDPOINT>& servers, size_t current, int kind,
                             uint32_t gameVersion, uint32_t updaterVersion)
{
    m_Servers = servers;
    m_iServer = current;
    m_iKind = kind;
    m_uGameVersion = gameVersion;
    m_uUpdaterVersion = updaterVersion;
    m_bActive = false;
    m_bDialing = false;
    m_iReconnects = 0;
    m_iSameServer = 0;
    m_bWatching = false;
    m_strNotice.clear();
}

bool TRANSFER_RETRY::Observe(const DOWNLOADER& downloader)
{
    const uint64_t now = MonotonicMs();
    const uint64_t arrived = downloader.BytesArrived();
    if (!m_bWatching || arrived - m_uArrivedMark >= DOWNLOADER::kProgressBytes || downloader.complete) {
        m_bWatching = true;
        m_uArrivedMark = arrived;
        m_uProgressAtMs = now;
    }
    return !OutOfTime();
}

bool TRANSFER_RETRY::OutOfTime() const
{
    return m_bWatching && MonotonicMs() - m_uProgressAtMs >= m_uWindowStallMs;
}

void TRANSFER_RETRY::GiveUpStalled(DOWNLOADER* downloader)
{
    m_pDownloader = downloader;
    GiveUp("no progress for " + std::to_string(m_uWindowStallMs / 1000) + " s");
}

unsigned int TRANSFER_RETRY::DelayBeforeMs(int reconnect)
{
    return reconnect <= 1 ? 0 : 1000u << (reconnect - 2);
}

bool TRANSFER_RETRY::Begin(DOWNLOADER* downloader)
{
    m_pDownloader = downloader;
    if (m_Servers.empty() || !downloader->CanGoOn())
        return false;
    if (OutOfTime()) {
        GiveUp("no progress for " + std::to_string(m_uWindowStallMs / 1000) + " s");
        return false;
    }
    const uint64_t total = downloader->GetTotalSize();
    std::string why = "The download was interrupted";
    if (total > 0)
        why += " at " + std::to_string(WholePercent(downloader->GetReceivedSize(), total)) + "%";
    // A server that refused the file or stalled is not asked again at once; a lost
    // connection is, once.
    const DOWNLOADER::INTERRUPTION cause = downloader->Interruption();
    const bool leave = cause == DOWNLOADER::REFUSED || cause == DOWNLOADER::STALLED || m_iSameServer >= 1;
    m_bActive = Schedule(leave, why);
    return m_bActive;
}

bool TRANSFER_RETRY::Redial(DOWNLOADER* downloader, const std::string& why)
{
    m_pDownloader = downloader;
    if (m_Servers.empty())
        return false;
    m_bActive = Schedule(false, why);
    return m_bActive;
}

bool TRANSFER_RETRY::Schedule(bool nextServer, const std::string& why)
{
    if (m_iReconnects >= kMaxReconnects) {
        m_strNotice = why + "; no reconnect is left";
        g_trace->Log("launcher: %s\n", m_strNotice.c_str());
        return false;
    }
    const size_t next = nextServer ? (m_iServer + 1) % m_Servers.size() : m_iServer;
    const bool same = next == m_iServer;
    m_iServer = next;
    m_iSameServer = same ? m_iSameServer + 1 : 0;
    ++m_iReconnects;
    // Another server is asked at once; the same one after a growing wait.
    const unsigned int delay = same ? DelayBeforeMs(m_iReconnects) : 0;
    m_uDueMs = MonotonicMs() + delay;
    m_bDialing = false;
    m_strNotice = why + "; reconnecting to " + Named(m_Servers[m_iServer]) +
                  (delay > 0 ? " in " + std::to_string(delay / 1000) + " s" : "") + " (" +
                  std::to_string(m_iReconnects) + " of " + std::to_string(kMaxReconnects) + ")";
    g_trace->Log("launcher: %s\n", m_strNotice.c_str());
    return true;
}

TRANSFER_RETRY::RESULT TRANSFER_RETRY::GiveUp(const std::string& why)
{
    RX_ERROR("launcher: the download cannot go on: %s", why.c_str());
    m_bActive = false;
    m_bDialing = false;
    m_pDownloader->Close();
    m_pDownloader->error = true;
    return GIVEN_UP;
}

TRANSFER_RETRY::RESULT TRANSFER_RETRY::Step(unsigned int waitMs)
{
    if (!m_bActive)
        return GOING_ON;
    if (OutOfTime())
        return GiveUp("no progress for " + std::to_string(m_uWindowStallMs / 1000) + " s");
    if (!m_bDialing) {
        const uint64_t now = MonotonicMs();
        if (now < m_uDueMs) {
            if (waitMs > 0)
                SleepMs(static_cast<unsigned int>(std::min<uint64_t>(waitMs, m_uDueMs - now)));
            return GOING_ON;
        }
        // The dial ends by the window's bound at the latest.
        uint64_t until = MonotonicMs() + kDialMs;
        if (m_bWatching && m_uProgressAtMs + m_uWindowStallMs < until)
            until = m_uProgressAtMs + m_uWindowStallMs;
        m_Dial.Start(m_pDownloader, m_Servers[m_iServer], until);
        m_bDialing = true;
    }
    const SERVER_DIAL::RESULT dialled = m_Dial.Step(waitMs);
    if (dialled == SERVER_DIAL::DIALING)
        return GOING_ON;
    m_bDialing = false;
    const std::string server = Named(m_Dial.Server());
    if (dialled == SERVER_DIAL::FAILED)
        return Schedule(true, server + " " + m_Dial.Failure()) ? GOING_ON : GiveUp(m_strNotice);
    // The file asked for belongs to the release the run set out to fetch; another one (a
    // new release meanwhile, a mirror that lags) is not spliced onto it.
    if (m_pDownloader->game_version != m_uGameVersion || m_pDownloader->updater_version != m_uUpdaterVersion)
        return GiveUp(server + " offers game " + std::to_string(m_pDownloader->game_version) + ", updater " +
                      std::to_string(m_pDownloader->updater_version) + " now, not the release being downloaded");
    // A file that ended in a failed check counted as complete; this request is another.
    m_pDownloader->complete = false;
    if (!m_pDownloader->GetFile(m_iKind, m_pDownloader->target_dir.Get()))
        return Schedule(true, server + " cannot be asked for the file") ? GOING_ON : GiveUp(m_strNotice);
    m_bActive = false;
    return GOING_ON;
}

void TRANSFER_RETRY::Stop()
{
    if (m_bActive && m_bDialing && m_pDownloader != nullptr)
        m_pDownloader->Close();
    m_bActive = false;
    m_bDialing = false;
}
