// CLIENT_SESSION: the server's side of the conversation with one connected client.
//
// It answers MSG_GET_INFO from the current release (its first dword announces the
// extensions this server knows), and for MSG_GET_FILE (shapes in file_request.h) sends
// MSG_FILE_BEGIN, the file in chunks paced by the client's acknowledgements, and
// MSG_FILE_END right after the last chunk; MSG_FILE_FAILED for a kind that is not offered,
// a request of no known shape, or a file above 4 GiB asked for without the package
// request. A package request gets the package for its installed version
// (package_choice.h). Chunks are read from the file as they are queued, a piece at a
// time. Nothing is appended to the connection's send queue while it still holds unsent
// bytes, so the queue never holds more than one piece and an append never copies a large
// one; frames that must wait sit in a small outbox meanwhile, until a chunk's last piece
// has gone.
//
// A client that breaks the conversation (a frame outside the client's messages, a body
// that does not fit its id, a request during a transfer, an acknowledgement with no chunk
// outstanding, more requests than the rate allows) or stays silent too long is ended.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "net/net_connect.h"
#include "net/net_message_helper.h"
#include "net/net_message_receiver.h"
#include "update_server/chunk_pacer.h"
#include "update_server/release.h"
#include "update_server/server_metrics.h"

struct SESSION_LIMITS {
    uint64_t idleTimeoutMs = 60000;
    // Chunks sent and not yet acknowledged.
    uint32_t window = 3;
    // Requests (MSG_GET_INFO, MSG_GET_FILE): a burst of this many, then this many per second.
    double requestBurst = 20;
    double requestsPerSecond = 2;
    // Frames waiting for the send queue to empty; a client that lets more pile up does
    // not read what it is sent.
    size_t maxOutbox = 1u << 20;
    // The kernel's send buffer follows the chunk size from chunks of this size on.
    uint32_t sendBufferFrom = 1u << 20;
    uint32_t sendBufferCap = 64u << 20;
    // File bytes per second per client; 0 sends as fast as the client takes them.
    uint64_t rateBytesPerSecond = 0;
    // A transfer whose client acknowledged nothing for this long is stalled: its next
    // chunk is a small one. Stalled this long while others wait for the memory it holds,
    // it is dropped.
    uint64_t stallMs = 5000;
    uint64_t stallDropMs = 20000;
};

class CLIENT_SESSION final : public NET_MESSAGE_RECEIVER {
public:
    // A chunk goes into the send queue a piece at a time, each read from the file when the
    // queue has emptied: what a session holds in memory does not grow with its chunks.
    static constexpr uint32_t kPieceBytes = 64u << 10;

    // `release` is the server's current release, read when a request arrives.
    // Files sent and drops are counted in `counters` when given.
    CLIENT_SESSION(NET_CONNECT* connection, const std::string& peer, const std::shared_ptr<const RELEASE>& release,
                   const SESSION_LIMITS& limits, uint64_t nowMs, SERVER_COUNTERS* counters = nullptr);
    ~CLIENT_SESSION();
    CLIENT_SESSION(const CLIENT_SESSION&) = delete;
    CLIENT_SESSION& operator=(const CLIENT_SESSION&) = delete;

    void ProcessMessage(short id, const char* body, int length) override;

    // Looks at the frame the connection is reading: a header the transport dropped or a
    // body the conversation does not allow ends the session before the body is read.
    void CheckFraming();
    // True when the session is over: peer gone, conversation broken, or silent too long.
    bool IsOver(uint64_t nowMs);
    // Logs the end (and any unfinished transfer) and releases the connection.
    void Finish(uint64_t nowMs, const char* reasonIfOpen = nullptr);

    // Queues what may go now when the send queue is empty: the next piece of the chunk under
    // way; else waiting frames, then the start of a chunk of at most maxChunk bytes when the
    // window allows (none if fewer than CHUNK_PACER::kMinChunk bytes of budget are left).
    // Returns the bytes of the chunk it started (0 when it started none).
    uint32_t Pump(uint64_t nowMs, uint64_t budgetLeft, uint32_t maxChunk);
    // Sends more of the queue while the socket takes it, up to maxBytes in this step,
    // queueing the next pieces of the chunk under way as the queue empties.
    void SendMore(int maxBytes);

    // Bytes waiting in the connection's send queue.
    uint64_t Unsent() const;
    // Bytes queued, or the rest of a chunk under way: the socket's room is waited for.
    bool WantsToSend() const { return Unsent() > 0 || (m_pTransfer != nullptr && m_pTransfer->chunkLeft > 0); }
    // Memory this client holds and will hold for what is queued, against the budget: the
    // send queue's block (kept whole until its last byte is sent), its unsent bytes once
    // more (they are copied into the kernel before the block goes) and what the kernel's
    // send buffer holds, and the rest of the chunk under way, bound for that buffer.
    uint64_t HeldBytes() const;
    // A transfer whose client has acknowledged nothing for at least forMs.
    bool Stalled(uint64_t nowMs, uint64_t forMs) const;
    // A transfer that cannot go on until a chunk is queued: nothing queued or outstanding.
    bool WaitingForChunk() const;
    // Ends a stalled transfer whose memory others wait for (at the next IsOver).
    void DropForMemory(uint64_t nowMs);
    bool InTransfer() const { return m_pTransfer != nullptr; }
    // When the session times out if nothing is heard.
    uint64_t IdleDeadline() const { return m_iActiveMs + m_Limits.idleTimeoutMs; }
    // When the rate cap lets the next chunk go (UINT64_MAX when nothing waits for it).
    uint64_t RateDeadline() const;
    NET_CONNECT* Connection() const { return m_pConnection; }

private:
    struct CHUNK {
        uint32_t bytes;
        uint64_t queuedMs;
    };
    struct TRANSFER {
        std::shared_ptr<const RELEASE_FILE> file;
        int kind = 0;
        uint64_t from = 0;   // the offset the client goes on from
        uint64_t queued = 0; // the file's bytes queued so far, from included
        uint32_t chunks = 0;
        uint32_t chunkLeft = 0; // bytes of the chunk under way not yet queued
        std::deque<CHUNK> unacked;
        uint64_t startMs = 0;
        uint64_t lastAckMs = 0;
        CHUNK_PACER pacer;
    };

    void OnGetFile(const char* body, int length, uint64_t nowMs);
    void OnAck(uint64_t nowMs);
    void OnGetInfo();
    void RefuseFile(const char* why);
    // Reads the next piece of the chunk under way and queues it behind *head (emptied);
    // returns the file bytes queued (0 when the file cannot be read: the session ends).
    uint32_t QueuePiece(std::string* head, uint64_t nowMs);
    bool TakeRequest(uint64_t nowMs);
    void Violation(const std::string& what, DROP_REASON reason = DROP_PROTOCOL);
    void QueueFrame(short id, const NET_MESSAGE_HELPER& body);
    void EndTransfer(uint64_t nowMs, const char* outcome);

    // Grows the kernel's send buffer with the chunks of a fast client (twice the chunk, up
    // to the cap): what one read of the client can take is bounded by what the sending
    // socket may hold, so a small buffer caps a tick-paced client. Slow clients keep the
    // system's own sizing; the window of chunks bounds what any buffer holds.
    void SizeSendBuffer(uint32_t chunkBytes);
    // File bytes the rate cap allows to have been queued by nowMs.
    uint64_t RateAllowance(uint64_t nowMs) const;

    NET_CONNECT* m_pConnection;
    std::string m_strPeer;
    const std::shared_ptr<const RELEASE>& m_Release;
    SESSION_LIMITS m_Limits;
    uint64_t m_iConnectedMs;
    // Last time something was heard from the client or a chunk was queued for it.
    uint64_t m_iActiveMs;
    double m_dRequestTokens;
    uint64_t m_iTokensMs;
    std::string m_Outbox;
    std::unique_ptr<TRANSFER> m_pTransfer;
    uint64_t m_iFilesSent = 0;
    // Acknowledgements of a file whose end has gone out, still to come.
    size_t m_iLateAcks = 0;
    int m_iSendBuffer = 0; // 0: the system's own sizing
    std::string m_strEnd; // why the session is over; empty while it goes on
    int m_iDropReason = -1; // a DROP_REASON when the server ended it
    SERVER_COUNTERS* m_pCounters;
    bool m_bFinished = false;
};
