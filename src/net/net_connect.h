// NET_CONNECT: one TCP connection carrying framed messages both ways, pumped by polling.
//
// Frame: id (4 bytes LE, written from a signed 16-bit id), body length (4 bytes LE), body.
// Received headers with an id above 4096 or a body above 100,000,000 bytes are dropped;
// ids 0-255 are the transport's own and are consumed without delivery.
//
// The owner (client or server) stores a connected socket in m_Socket, clears m_bClosed,
// sets m_pReceiver and then calls Process() from its polling loop.
#pragma once

#include <cstdint>
#include <string>

#include "net/net_frame.h"
#include "net/net_message_receiver.h"
#include "platform/sockets.h"

class NET_CONNECT {
public:
    static constexpr int kHeaderSize = kFrameHeaderSize;
    static constexpr uint32_t kMaxRecvId = 4096;
    static constexpr uint32_t kMaxRecvBody = 100000000;
    static constexpr int kMaxSendStep = 65536;
    // A body's receive buffer grows to this size (or the body's, when smaller) and then
    // doubles while the body arrives, so memory follows the bytes that came, never a
    // header's word alone. The buffer serves the connection's next frames too.
    static constexpr int kFirstBodyBlock = 65536;
    // A body taken in pieces (NET_MESSAGE_RECEIVER::TakesBodyInPieces) goes to the receiver
    // a buffer of at most kPieceBytes at a time, and once at least kMinPieceBytes of it
    // wait when the socket has nothing more for now.
    static constexpr int kPieceBytes = 512 * 1024;
    static constexpr int kMinPieceBytes = 16 * 1024;
    // Ids up to this one belong to the transport and are never delivered.
    static constexpr short kLastTransportId = 255;
    // m_iRecvState values.
    static constexpr int kRecvIdle = 0;
    static constexpr int kRecvHeader = 1;
    static constexpr int kRecvBody = 2;

    NET_CONNECT();
    ~NET_CONNECT();
    NET_CONNECT(const NET_CONNECT&) = delete;
    NET_CONNECT& operator=(const NET_CONNECT&) = delete;

    // Appends raw bytes to the send queue; nothing when length is 0 or data is null.
    void Send(const char* data, int length);
    // Queues one frame; data may be null only with length 0 (a header-only frame).
    void Send_iMsg(short id, const char* data, int length);

    // One polling step: a send step, then a receive step.
    void Process();
    void ProcessSend();
    void ProcessRecv();
    // Dispatch of one complete frame to the receiver.
    void ProcessMessage(short id, const char* data, int length);

    // Pumps the connection until an application message has been handed to the
    // receiver (true), or the connection is closed or released, or timeoutMs has run
    // out (false). Sleeps in a readiness wait between steps; a timeout of 0 makes one step.
    bool ProcessDoTransfercomplete(unsigned int timeoutMs);
    // Steps while bytes keep arriving, for up to budgetMs: a polled peer is not held to
    // one receive per call, and what the receiver queues leaves at once. Inside a frame
    // whose rest is on its way, it waits for those bytes within the budget.
    void ProcessFor(unsigned int budgetMs);

    // Frees both buffers and closes the socket. A second call does nothing.
    void Realese();

    // Bytes queued and not yet handed to the socket.
    uint64_t Unsent() const { return static_cast<uint64_t>(m_iSendLen - m_iSendPos); }
    // The header of the frame being received, once its 8 bytes are in: the id and body
    // length as they came (a header dropped for its limits keeps them until the next frame
    // starts; 0 and 0 before any frame), and whether its body is being received now.
    uint32_t IncomingId() const { return m_iRecvId; }
    uint32_t IncomingLength() const { return m_iRecvLen; }
    bool ReceivingBody() const { return m_iRecvState == kRecvBody; }
    // The bytes of the body being received that have come so far and were not handed
    // over in pieces (*got of them; null and 0 outside a body), still there after the peer
    // closed and until Realese; IncomingBodyOffset is where they lie in the body.
    const char* IncomingBodyPart(int* got) const
    {
        const bool some = m_iRecvState == kRecvBody && m_pRecvBuf != nullptr;
        *got = some ? m_iRecvGot : 0;
        return some ? m_pRecvBuf : nullptr;
    }
    uint32_t IncomingBodyOffset() const { return m_iRecvState == kRecvBody ? m_uPieceOffset : 0; }

    SOCKET m_Socket;
    std::string m_strName;
    bool m_bClosed;

    char* m_pSendBuf;
    int m_iSendLen;
    int m_iSendPos;

    int m_iRecvState;
    uint32_t m_iRecvId;
    uint32_t m_iRecvLen;
    char* m_pRecvBuf;
    int m_iRecvGot;
    int m_iRecvWant;
    // Bytes m_pRecvBuf holds room for (it has one more, never written).
    int m_iRecvRoom;
    // The body being received goes to the receiver in pieces; the body bytes handed over.
    bool m_bInPieces;
    uint32_t m_uPieceOffset;
    // Bytes received over the connection's life.
    uint64_t m_uRecvTotal;

    bool m_bMessageArrived;
    bool m_bReleased;
    NET_MESSAGE_RECEIVER* m_pReceiver;

private:
    // Appends first then second to the queue in one block; a block that cannot be had
    // closes the connection rather than losing part of a frame.
    void Append(const char* first, int firstLength, const char* second, int secondLength);
    // Gives the body being received more room, keeping what arrived; false when the
    // memory cannot be had.
    bool GrowRecvBody();
    // Hands the piece of a body in pieces over when it is complete, or when enough of it
    // waits and nothing more has come.
    void DeliverPiece();
};
