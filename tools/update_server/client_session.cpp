#include "update_server/client_session.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/trace_log.h"
#include "protocol/update_messages.h"
#include "protocol/update_protocol.h"
#include "net/net_frame.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "update_server/file_request.h"
#include "update_server/package_choice.h"

namespace {

// One buffer for the chunk being queued, whichever session queues it: sessions are pumped
// one at a time on the server's one thread.
std::vector<char>& ChunkBuffer()
{
    static std::vector<char> buffer;
    return buffer;
}

double Seconds(uint64_t ms)
{
    return static_cast<double>(ms) / 1000.0;
}

} // namespace

CLIENT_SESSION::CLIENT_SESSION(NET_CONNECT* connection, const std::string& peer,
                               const std::shared_ptr<const RELEASE>& release, const SESSION_LIMITS& limits,
                               uint64_t nowMs, SERVER_COUNTERS* counters)
    : m_pConnection(connection),
      m_strPeer(peer),
      m_Release(release),
      m_Limits(limits),
      m_iConnectedMs(nowMs),
      m_iActiveMs(nowMs),
      m_dRequestTokens(limits.requestBurst),
      m_iTokensMs(nowMs),
      m_pCounters(counters)
{
    m_pConnection->m_pReceiver = this;
}

CLIENT_SESSION::~CLIENT_SESSION()
{
    if (!m_bFinished && m_pConnection != nullptr) {
        m_pConnection->m_pReceiver = nullptr;
        m_pConnection->m_bReleased = true;
    }
}

void CLIENT_SESSION::Violation(const std::string& what, DROP_REASON reason)
{
    if (m_strEnd.empty()) {
        m_strEnd = "dropped: " + what;
        m_iDropReason = reason;
    }
}

bool CLIENT_SESSION::TakeRequest(uint64_t nowMs)
{
    m_dRequestTokens = std::min(m_Limits.requestBurst,
                                m_dRequestTokens + Seconds(nowMs - m_iTokensMs) * m_Limits.requestsPerSecond);
    m_iTokensMs = nowMs;
    if (m_dRequestTokens < 1) {
        Violation("too many requests", DROP_FLOOD);
        return false;
    }
    m_dRequestTokens -= 1;
    return true;
}

void CLIENT_SESSION::QueueFrame(short id, const NET_MESSAGE_HELPER& body)
{
    m_Outbox += FrameHeader(id, static_cast<uint32_t>(body.m_iSize));
    m_Outbox.append(body.m_pData, static_cast<size_t>(body.m_iSize));
    if (m_Outbox.size() > m_Limits.maxOutbox)
        Violation("does not read what it is sent", DROP_NOT_READING);
}

void CLIENT_SESSION::ProcessMessage(short id, const char* body, int length)
{
    if (!m_strEnd.empty())
        return;
    const uint64_t now = MonotonicMs();
    m_iActiveMs = now;
    if (!IsClientMessage(static_cast<uint16_t>(id), static_cast<uint32_t>(length))) {
        Violation("message " + std::to_string(id) + " with a body of " + std::to_string(length) + " bytes");
        return;
    }
    switch (id) {
    case MSG_GET_FILE:
        if (TakeRequest(now))
            OnGetFile(body, length, now);
        break;
    case MSG_FILE_DATA_ACK:
        OnAck(now);
        break;
    case MSG_GET_INFO:
        if (TakeRequest(now))
            OnGetInfo();
        break;
    default:
        break;
    }
}

void CLIENT_SESSION::OnGetInfo()
{
    const RELEASE& release = *m_Release;
    NET_MESSAGE_HELPER body;
    WriteVersionInfo(body, {kServerCapabilities, release.game_version, release.info_text, release.updater_version});
    QueueFrame(MSG_GET_INFO, body);
}

void CLIENT_SESSION::RefuseFile(const char* why)
{
    QueueFrame(MSG_FILE_FAILED, NET_MESSAGE_HELPER());
    g_trace->Log("%s %s: sent MSG_FILE_FAILED\n", m_strPeer.c_str(), why);
}

void CLIENT_SESSION::OnGetFile(const char* body, int length, uint64_t nowMs)
{
    if (m_pTransfer != nullptr) {
        Violation("a second MSG_GET_FILE during a transfer");
        return;
    }
    const SHAPED_FILE_REQUEST request = ReadShapedFileRequest(body, length);
    const int kind = static_cast<int>(request.kind);
    if (request.shape == REQUEST_SHAPE::kMalformed) {
        RefuseFile(("sent a file request of " + std::to_string(length) + " bytes that is none of the known shapes")
                       .c_str());
        return;
    }
    const bool package = request.shape == REQUEST_SHAPE::kPackage;
    const PACKAGE_CHOICE choice = package ? ChoosePackage(*m_Release, kind, request.installed, request.features)
                                          : PACKAGE_CHOICE{m_Release->FileOfKind(kind), PACKAGE_BASE_CUMULATIVE};
    const std::shared_ptr<const RELEASE_FILE>& file = choice.file;
    if (file == nullptr) {
        RefuseFile(("asked for kind " + std::to_string(kind) + ", which is not offered").c_str());
        return;
    }
    if (!package && file->size > RELEASE::kMaxPlainSize) {
        // Its size does not fit the plain answer; a cut one would be a lie.
        RefuseFile(("asked for kind " + std::to_string(kind) + " without the package request, and " + file->path +
                    " is " + std::to_string(file->size) + " bytes, more than a plain answer can announce")
                       .c_str());
        return;
    }
    if (!file->Unchanged()) {
        RefuseFile(("asked for " + file->path + ", which changed on disk since it was loaded (reload to serve it)")
                       .c_str());
        return;
    }
    // A part of another file, or one that is not shorter than this one, starts again from
    // the beginning.
    const uint64_t start = request.tag == file->tag && request.offset < file->size ? request.offset : 0;
    m_pTransfer.reset(new TRANSFER);
    m_pTransfer->file = file;
    m_pTransfer->kind = kind;
    m_pTransfer->from = start;
    m_pTransfer->queued = start;
    m_pTransfer->startMs = nowMs;
    if (package)
        g_trace->Log("%s asked for kind %d at installed version %u with features %u: %s (base %u)\n",
                     m_strPeer.c_str(), kind, request.installed, request.features, file->path.c_str(), choice.base);
    if (start > 0)
        g_trace->Log("%s goes on with %s (kind %d) from byte %llu of %llu\n", m_strPeer.c_str(), file->name.c_str(),
                     kind, static_cast<unsigned long long>(start), static_cast<unsigned long long>(file->size));
    NET_MESSAGE_HELPER answer;
    if (package) {
        WritePackageAnswer(answer, {file->name, file->size, file->tag, start, choice.base,
                                    AnswersFeatures(request.features), choice.features});
    } else {
        // A plain client (tag 0) gets the plain answer; a resuming one the tag and start too.
        FILE_ANNOUNCEMENT announced;
        announced.name = file->name;
        announced.size = static_cast<uint32_t>(file->size);
        announced.resumable = request.shape == REQUEST_SHAPE::kResume;
        announced.tag = file->tag;
        announced.start = static_cast<uint32_t>(start);
        WriteFileAnnouncement(answer, announced);
    }
    QueueFrame(MSG_FILE_BEGIN, answer);
}

void CLIENT_SESSION::OnAck(uint64_t nowMs)
{
    // A client acknowledges in order: the late ones of a finished file come before anything
    // of a new request.
    if (m_iLateAcks > 0) {
        --m_iLateAcks;
        return;
    }
    if (m_pTransfer == nullptr || m_pTransfer->unacked.empty()) {
        Violation("an acknowledgement with no chunk outstanding");
        return;
    }
    const CHUNK chunk = m_pTransfer->unacked.front();
    m_pTransfer->unacked.pop_front();
    m_pTransfer->lastAckMs = nowMs;
    m_pTransfer->pacer.OnAck(chunk.bytes, chunk.queuedMs, nowMs);
}

void CLIENT_SESSION::CheckFraming()
{
    const NET_CONNECT& c = *m_pConnection;
    const uint32_t id = c.IncomingId();
    const uint32_t length = c.IncomingLength();
    // A header the transport dropped (id or length beyond its limits) leaves its values.
    if (id > NET_CONNECT::kMaxRecvId || length > NET_CONNECT::kMaxRecvBody) {
        Violation("a malformed frame header");
        return;
    }
    // Ids of the transport are never sent by a client (0/0 is the state before any frame).
    if (id <= static_cast<uint32_t>(NET_CONNECT::kLastTransportId) && (id != 0 || length != 0)) {
        Violation("a frame with the transport's id " + std::to_string(id));
        return;
    }
    if (c.ReceivingBody() && !IsClientMessage(id, length))
        Violation("message " + std::to_string(id) + " with a body of " + std::to_string(length) + " bytes");
}

bool CLIENT_SESSION::IsOver(uint64_t nowMs)
{
    if (!m_strEnd.empty())
        return true;
    if (m_pConnection->m_bClosed) {
        m_strEnd = "closed by the client";
        return true;
    }
    if (nowMs >= IdleDeadline()) {
        Violation("silent for " + std::to_string(m_Limits.idleTimeoutMs / 1000) + " s", DROP_IDLE);
        return true;
    }
    return false;
}

uint64_t CLIENT_SESSION::Unsent() const
{
    return m_pConnection->Unsent();
}

uint64_t CLIENT_SESSION::HeldBytes() const
{
    const NET_CONNECT& c = *m_pConnection;
    uint64_t held = m_Outbox.size();
    if (c.m_pSendBuf != nullptr)
        held += static_cast<uint64_t>(c.m_iSendLen) + Unsent();
    // The rest of the chunk under way is on its way into the kernel's buffer.
    if (m_pTransfer != nullptr)
        held += m_pTransfer->chunkLeft;
    if (m_pTransfer != nullptr && c.m_Socket != INVALID_SOCKET) {
        // Where the system does not tell, the buffer size asked for bounds it.
        const int64_t kernel = SocketSendQueueBytes(c.m_Socket);
        held += kernel >= 0 ? static_cast<uint64_t>(kernel) : static_cast<uint64_t>(m_iSendBuffer);
    }
    return held;
}

bool CLIENT_SESSION::Stalled(uint64_t nowMs, uint64_t forMs) const
{
    const TRANSFER* t = m_pTransfer.get();
    if (t == nullptr || t->unacked.empty())
        return false;
    const uint64_t since = std::max(t->unacked.front().queuedMs, t->lastAckMs);
    return nowMs >= since + forMs;
}

bool CLIENT_SESSION::WaitingForChunk() const
{
    const TRANSFER* t = m_pTransfer.get();
    return t != nullptr && m_strEnd.empty() && t->queued < t->file->size && t->unacked.empty() && Unsent() == 0;
}

void CLIENT_SESSION::DropForMemory(uint64_t nowMs)
{
    const TRANSFER* t = m_pTransfer.get();
    const uint64_t since = t != nullptr && !t->unacked.empty() ? std::max(t->unacked.front().queuedMs, t->lastAckMs)
                                                               : nowMs;
    Violation("acknowledged nothing for " + std::to_string((nowMs - since) / 1000) + " s while holding " +
                  std::to_string(HeldBytes() >> 10) + " KiB that other clients wait for",
              DROP_STALLED);
}

void CLIENT_SESSION::SendMore(int maxBytes)
{
    int sent = 0;
    while (sent < maxBytes && !m_pConnection->m_bClosed) {
        if (Unsent() == 0) {
            // The chunk under way goes on as fast as the socket takes it, a piece at a time.
            const TRANSFER* t = m_pTransfer.get();
            if (!m_strEnd.empty() || t == nullptr || t->chunkLeft == 0)
                break;
            std::string none;
            if (QueuePiece(&none, MonotonicMs()) == 0)
                break;
            if (m_pCounters != nullptr)
                m_pCounters->queuedBytes += Unsent();
        }
        const uint64_t before = Unsent();
        m_pConnection->ProcessSend();
        const uint64_t after = Unsent();
        if (after >= before)
            break;
        sent += static_cast<int>(before - after);
    }
}

uint32_t CLIENT_SESSION::QueuePiece(std::string* head, uint64_t nowMs)
{
    TRANSFER* t = m_pTransfer.get();
    const uint32_t piece = std::min(t->chunkLeft, kPieceBytes);
    // Waiting frames or the chunk's frame header, and the piece read from the file behind
    // them, go into the queue in one append.
    std::vector<char>& buffer = ChunkBuffer();
    buffer.resize(std::max(buffer.size(), head->size() + piece));
    std::copy(head->begin(), head->end(), buffer.begin());
    if (!t->file->ReadAt(t->queued, buffer.data() + head->size(), piece)) {
        // Nothing more of it is sent: the client would take bytes of two files as one.
        m_strEnd = "dropped: " + t->file->path + " cannot be read or changed on disk since it was loaded (reload to "
                   "serve it)";
        return 0;
    }
    m_pConnection->Send(buffer.data(), static_cast<int>(head->size() + piece));
    head->clear();
    t->queued += piece;
    t->chunkLeft -= piece;
    m_iActiveMs = nowMs;
    return piece;
}

uint32_t CLIENT_SESSION::Pump(uint64_t nowMs, uint64_t budgetLeft, uint32_t maxChunk)
{
    if (!m_strEnd.empty() || m_pConnection->m_bClosed || Unsent() > 0)
        return 0;
    TRANSFER* t = m_pTransfer.get();
    // Nothing may come between the pieces of a chunk's frame.
    if (t != nullptr && t->chunkLeft > 0) {
        std::string none;
        QueuePiece(&none, nowMs);
        return 0; // counted when the chunk started
    }
    std::string head;
    head.swap(m_Outbox);
    uint32_t queued = 0;
    if (t != nullptr) {
        const uint64_t left = t->file->size - t->queued;
        const bool rateAllows = m_Limits.rateBytesPerSecond == 0 || t->queued - t->from < RateAllowance(nowMs);
        if (left > 0 && t->unacked.size() < m_Limits.window && rateAllows) {
            uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>({t->pacer.ChunkSize(), maxChunk, left}));
            if (Stalled(nowMs, m_Limits.stallMs))
                bytes = std::min(bytes, CHUNK_PACER::kMinChunk);
            if (m_Limits.rateBytesPerSecond != 0)
                bytes = std::min<uint64_t>(bytes, std::max<uint64_t>(m_Limits.rateBytesPerSecond / 8, 4096));
            if (bytes > budgetLeft)
                bytes = budgetLeft >= std::min<uint64_t>(CHUNK_PACER::kMinChunk, left) ? static_cast<uint32_t>(budgetLeft)
                                                                                       : 0;
            if (bytes > 0) {
                head += FileDataPrefix(bytes);
                SizeSendBuffer(bytes);
                t->chunkLeft = bytes;
                t->chunks += 1;
                t->unacked.push_back({bytes, nowMs});
                queued = QueuePiece(&head, nowMs) > 0 ? bytes : 0;
            }
        } else if (left == 0) {
            // The end follows the last chunk at once, not a round trip later: the
            // acknowledgements still on their way are taken as they come.
            m_iLateAcks += t->unacked.size();
            head += FrameHeader(MSG_FILE_END, 0);
            EndTransfer(nowMs, nullptr);
        }
    }
    if (!head.empty() && m_strEnd.empty())
        m_pConnection->Send(head.data(), static_cast<int>(head.size()));
    return queued;
}

uint64_t CLIENT_SESSION::RateAllowance(uint64_t nowMs) const
{
    // A tenth of a second's worth may go at once; the rest follows the clock.
    const uint64_t rate = m_Limits.rateBytesPerSecond;
    return rate / 10 + rate * (nowMs - m_pTransfer->startMs) / 1000;
}

uint64_t CLIENT_SESSION::RateDeadline() const
{
    const TRANSFER* t = m_pTransfer.get();
    const uint64_t rate = m_Limits.rateBytesPerSecond;
    if (rate == 0 || t == nullptr || t->queued >= t->file->size || t->unacked.size() >= m_Limits.window)
        return UINT64_MAX;
    const uint64_t burst = rate / 10;
    const uint64_t sent = t->queued - t->from;
    const uint64_t due = sent > burst ? (sent - burst) * 1000 / rate : 0;
    return t->startMs + due + 1;
}

void CLIENT_SESSION::SizeSendBuffer(uint32_t chunkBytes)
{
    if (chunkBytes < m_Limits.sendBufferFrom)
        return;
    const int wanted = static_cast<int>(std::min<uint64_t>(2ull * chunkBytes, m_Limits.sendBufferCap));
    if (wanted <= m_iSendBuffer)
        return;
    const int granted = SocketRequestSendBuffer(m_pConnection->m_Socket, wanted);
    // Asked once per size: a capped grant is not asked again for the same size.
    m_iSendBuffer = granted > 0 ? std::max(granted, wanted) : wanted;
}

void CLIENT_SESSION::EndTransfer(uint64_t nowMs, const char* outcome)
{
    TRANSFER* t = m_pTransfer.get();
    const uint64_t ms = nowMs - t->startMs;
    const double seconds = Seconds(ms);
    if (outcome == nullptr) {
        const uint64_t sent = t->file->size - t->from;
        const double mbps = ms > 0 ? static_cast<double>(sent) / 1e6 / seconds : 0.0;
        g_trace->Log("%s sent %s (kind %d): %llu bytes in %.2f s, %u chunks, %.1f MB/s\n", m_strPeer.c_str(),
                     t->file->name.c_str(), t->kind, static_cast<unsigned long long>(sent), seconds, t->chunks, mbps);
        ++m_iFilesSent;
        if (m_pCounters != nullptr) {
            ++(t->kind == FILE_KIND_UPDATER ? m_pCounters->updatersSent : m_pCounters->patchesSent);
            // Counted once it has gone out whole: a client that asks again and again and
            // leaves does not inflate them.
            if (t->from > 0) {
                ++m_pCounters->resumedTransfers;
                m_pCounters->resumedBytesSkipped += t->from;
            }
        }
    } else {
        // The chunk under way counts whole among the unacknowledged, its unqueued rest too.
        uint64_t acked = t->queued + t->chunkLeft;
        for (const CHUNK& c : t->unacked)
            acked -= c.bytes;
        g_trace->Log("%s stopped sending %s (kind %d) after %llu of %llu bytes in %.2f s: %s\n", m_strPeer.c_str(),
                     t->file->name.c_str(), t->kind, static_cast<unsigned long long>(acked),
                     static_cast<unsigned long long>(t->file->size), seconds, outcome);
    }
    m_pTransfer.reset();
}

void CLIENT_SESSION::Finish(uint64_t nowMs, const char* reasonIfOpen)
{
    if (m_bFinished)
        return;
    if (m_strEnd.empty())
        m_strEnd = reasonIfOpen != nullptr ? reasonIfOpen : "closed";
    if (m_pTransfer != nullptr)
        EndTransfer(nowMs, m_strEnd.c_str());
    if (m_pCounters != nullptr && m_iDropReason >= 0)
        ++m_pCounters->dropped[m_iDropReason];
    // A client that stopped reading would keep what the kernel holds for it long after
    // the close, outside the budget: reset it instead.
    if ((m_iDropReason == DROP_STALLED || m_iDropReason == DROP_NOT_READING || m_iDropReason == DROP_IDLE) &&
        m_pConnection->m_Socket != INVALID_SOCKET)
        SocketAbortOnClose(m_pConnection->m_Socket);
    g_trace->Log("%s connection ended after %.2f s, %llu file(s) sent: %s\n", m_strPeer.c_str(),
                 Seconds(nowMs - m_iConnectedMs), static_cast<unsigned long long>(m_iFilesSent), m_strEnd.c_str());
    m_pConnection->m_pReceiver = nullptr;
    m_pConnection->m_bReleased = true;
    m_bFinished = true;
}
