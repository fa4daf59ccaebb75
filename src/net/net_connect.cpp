#include "net/net_connect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/guard.h"
#include "common/trace_log.h"
#include "net/net_byte_order.h"
#include "platform/clock.h"

namespace {

// Longest readiness wait between two steps of ProcessDoTransfercomplete: short enough to
// keep the send side moving, long enough not to spin. Data arriving ends a wait at once.
const unsigned int kIdleWaitMs = 20;
const unsigned int kSendingWaitMs = 1;

const char* SendErrorText(int code)
{
    switch (code) {
    case WSAEWOULDBLOCK:
        return "the send would block";
    case WSAENOTCONN:
        return "the socket is not connected";
    case WSAECONNRESET:
        return "the connection was reset by the peer";
    case WSAECONNABORTED:
        return "the connection was aborted";
    case WSAESHUTDOWN:
        return "the socket has been shut down";
    case WSAENETDOWN:
        return "the network is down";
    case WSAENETRESET:
        return "the connection was broken by a network reset";
    case WSAEHOSTUNREACH:
        return "the host is unreachable";
    case WSAETIMEDOUT:
        return "the connection timed out";
    case WSAENOBUFS:
        return "no buffer space is available";
    case WSAENOTSOCK:
        return "the handle is not a socket";
    case WSAEMSGSIZE:
        return "the message is too long";
    case WSAEINTR:
        return "the call was interrupted";
    case WSAEFAULT:
        return "the buffer address is invalid";
    case WSAEINVAL:
        return "an argument is invalid";
    case WSAEACCES:
        return "access was denied";
    case EPIPE:
        return "the peer has closed the connection";
    default:
        return "unknown error";
    }
}

} // namespace

NET_CONNECT::NET_CONNECT()
    : m_Socket(INVALID_SOCKET),
      m_bClosed(true),
      m_pSendBuf(nullptr),
      m_iSendLen(0),
      m_iSendPos(0),
      m_iRecvState(kRecvIdle),
      m_iRecvId(0),
      m_iRecvLen(0),
      m_pRecvBuf(nullptr),
      m_iRecvGot(0),
      m_iRecvWant(0),
      m_iRecvRoom(0),
      m_bInPieces(false),
      m_uPieceOffset(0),
      m_uRecvTotal(0),
      m_bMessageArrived(false),
      m_bReleased(false),
      m_pReceiver(nullptr)
{
}

NET_CONNECT::~NET_CONNECT()
{
    Realese();
}

void NET_CONNECT::Append(const char* first, int firstLength, const char* second, int secondLength)
{
    const int pending = m_iSendLen - m_iSendPos;
    const int64_t total = static_cast<int64_t>(pending) + firstLength + secondLength;
    if (total > INT32_MAX)
        throw "NET_CONNECT: send queue would exceed 2 GiB";
    const int n = static_cast<int>(total);
    char* block = new (std::nothrow) char[n];
    if (block == nullptr) {
        // Dropping the bytes would leave the peer reading a broken stream.
        m_bClosed = true;
        return;
    }
    if (pending > 0)
        std::memcpy(block, m_pSendBuf + m_iSendPos, pending);
    if (firstLength > 0)
        std::memcpy(block + pending, first, firstLength);
    if (secondLength > 0)
        std::memcpy(block + pending + firstLength, second, secondLength);
    delete[] m_pSendBuf;
    m_pSendBuf = block;
    m_iSendLen = n;
    m_iSendPos = 0;
}

void NET_CONNECT::Send(const char* data, int length)
{
    RX_GUARD_BEGIN
    if (length == 0 || data == nullptr)
        return;
    if (length < 0)
        throw "NET_CONNECT: negative send length";
    Append(data, length, nullptr, 0);
    RX_GUARD_END("NET_CONNECT::Send")
}

void NET_CONNECT::Send_iMsg(short id, const char* data, int length)
{
    RX_GUARD_BEGIN
    if (length < 0)
        throw "NET_CONNECT: negative message length";
    if (data == nullptr && length != 0)
        throw "NET_CONNECT: message body missing";
    // Header and body go into the queue together, so a frame is queued whole or not at all.
    char header[kHeaderSize];
    StoreFrameHeader(header, id, static_cast<uint32_t>(length));
    Append(header, kHeaderSize, data, length);
    RX_GUARD_END("NET_CONNECT::Send_iMsg")
}

void NET_CONNECT::Process()
{
    RX_GUARD_BEGIN
    ProcessSend();
    ProcessRecv();
    RX_GUARD_END("NET_CONNECT::Process")
}

void NET_CONNECT::ProcessSend()
{
    RX_GUARD_BEGIN
    if (m_bClosed)
        return;
    if (SocketWaitWritable(m_Socket, 0) != 1)
        return;
    const int pending = m_iSendLen - m_iSendPos;
    const int chunk = std::min(pending, kMaxSendStep);
    // Made also with an empty queue: a socket that has failed shows it here.
    const int sent = static_cast<int>(send(m_Socket, m_pSendBuf != nullptr ? m_pSendBuf + m_iSendPos : nullptr, chunk, 0));
    if (sent < 0) {
        const int code = WSAGetLastError();
        m_bClosed = true;
        RX_ERROR("NET_CONNECT: send(...) to:%s failed, error %d: %s", m_strName.c_str(), code, SendErrorText(code));
        return;
    }
    if (sent == pending) {
        delete[] m_pSendBuf;
        m_pSendBuf = nullptr;
        m_iSendLen = 0;
        m_iSendPos = 0;
    } else if (sent == 0) {
        m_bClosed = true;
    } else {
        m_iSendPos += sent;
    }
    RX_GUARD_END("NET_CONNECT::Process")
}

void NET_CONNECT::ProcessRecv()
{
    RX_GUARD_BEGIN
    if (m_bClosed)
        return;
    if (SocketWaitReadable(m_Socket, 0) != 1)
        return;
    if (m_iRecvState == kRecvIdle || (m_iRecvState == kRecvHeader && m_pRecvBuf == nullptr)) {
        // Starting the next header ends the validity of the body delivered last: the
        // buffer is used again (frames of one size then cost no allocation or copy).
        m_iRecvState = kRecvHeader;
        m_iRecvGot = 0;
        m_iRecvWant = kHeaderSize;
        m_bInPieces = false;
        m_uPieceOffset = 0;
        if (m_pRecvBuf == nullptr) {
            m_pRecvBuf = new char[kHeaderSize + 1];
            m_iRecvRoom = kHeaderSize;
        }
    }
    // One recv, never past the current header or body: the next frame stays queued. A
    // body's buffer grows with what arrives, so a recv that fills it is followed in the
    // same step by a larger buffer and another recv, while more is waiting.
    while (m_iRecvWant != 0) {
        const bool full = m_iRecvGot == m_iRecvRoom && m_iRecvGot < m_iRecvWant;
        if (m_iRecvState == kRecvBody && full && !GrowRecvBody()) {
            m_iRecvState = kRecvIdle;
            m_bClosed = true;
            return;
        }
        const int room = std::min(m_iRecvWant, m_iRecvRoom) - m_iRecvGot;
        const int got = static_cast<int>(recv(m_Socket, m_pRecvBuf + m_iRecvGot, room, 0));
        if (got == 0)
            m_bClosed = true;
        if (got <= 0)
            break;
        m_iRecvGot += got;
        m_uRecvTotal += static_cast<uint64_t>(got);
        if (m_iRecvState != kRecvBody || m_iRecvGot != m_iRecvRoom || m_iRecvGot == m_iRecvWant ||
            SocketWaitReadable(m_Socket, 0) != 1)
            break;
    }
    if (m_iRecvState == kRecvBody && m_bInPieces) {
        DeliverPiece();
        return;
    }
    if (m_iRecvGot != m_iRecvWant)
        return;

    if (m_iRecvState == kRecvHeader) {
        m_iRecvId = LoadLe32(m_pRecvBuf);
        m_iRecvLen = LoadLe32(m_pRecvBuf + 4);
        if (m_iRecvId > kMaxRecvId || m_iRecvLen > kMaxRecvBody) {
            m_iRecvState = kRecvIdle;
            return;
        }
        m_iRecvState = kRecvBody;
        m_iRecvGot = 0;
        m_iRecvWant = static_cast<int>(m_iRecvLen);
        const short id = static_cast<short>(m_iRecvId & 0xFFFF);
        m_bInPieces = m_iRecvLen != 0 && id > kLastTransportId && m_pReceiver != nullptr &&
                      m_pReceiver->TakesBodyInPieces(id, m_iRecvLen);
        if (m_bInPieces)
            m_iRecvWant = std::min(m_iRecvWant, kPieceBytes);
        if (m_iRecvLen != 0) {
            // The body's room beyond what the buffer has comes with its bytes (GrowRecvBody).
            return;
        }
    }

    // A complete frame. The state goes back to idle before the receiver runs, so that a
    // receiver that releases the connection, or throws, leaves it between frames.
    m_iRecvState = kRecvIdle;
    ProcessMessage(static_cast<short>(m_iRecvId & 0xFFFF), m_pRecvBuf, static_cast<int>(m_iRecvLen));
    RX_GUARD_END("NET_CONNECT::ProcessRecv")
}

void NET_CONNECT::DeliverPiece()
{
    const bool whole = m_iRecvGot == m_iRecvWant;
    // A piece cut short is handed over only while the connection lives: what a closed
    // one left stays readable (IncomingBodyPart) for whoever salvages it.
    if (!whole && (m_iRecvGot < kMinPieceBytes || m_bClosed))
        return;
    const uint32_t offset = m_uPieceOffset;
    const int length = m_iRecvGot;
    const bool last = offset + static_cast<uint32_t>(length) == m_iRecvLen;
    // The state moves past the piece before the receiver runs: one that releases the
    // connection, or throws, leaves it consistent.
    m_uPieceOffset += static_cast<uint32_t>(length);
    m_iRecvGot = 0;
    m_iRecvWant = static_cast<int>(std::min<uint32_t>(m_iRecvLen - m_uPieceOffset, kPieceBytes));
    if (last) {
        m_iRecvState = kRecvIdle;
        m_bMessageArrived = true;
    }
    m_pReceiver->ProcessMessagePiece(static_cast<short>(m_iRecvId & 0xFFFF), m_pRecvBuf, length, offset, last);
}

bool NET_CONNECT::GrowRecvBody()
{
    const int64_t grown = std::max<int64_t>(kFirstBodyBlock, int64_t{2} * m_iRecvRoom);
    const int room = static_cast<int>(std::min<int64_t>(m_iRecvWant, grown));
    char* block = new (std::nothrow) char[static_cast<size_t>(room) + 1];
    if (block == nullptr)
        return false;
    if (m_iRecvGot > 0)
        std::memcpy(block, m_pRecvBuf, static_cast<size_t>(m_iRecvGot));
    delete[] m_pRecvBuf;
    m_pRecvBuf = block;
    m_iRecvRoom = room;
    return true;
}

void NET_CONNECT::ProcessMessage(short id, const char* data, int length)
{
    RX_GUARD_BEGIN
    if (id <= kLastTransportId)
        return;
    m_bMessageArrived = true;
    if (m_pReceiver != nullptr)
        m_pReceiver->ProcessMessage(id, data, length);
    RX_GUARD_END("NET_CONNECT::ProcessMessage")
}

bool NET_CONNECT::ProcessDoTransfercomplete(unsigned int timeoutMs)
{
    RX_GUARD_BEGIN
    // A frame already half received is kept: its remaining bytes are still on their way.
    m_bMessageArrived = false;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        if (m_bClosed)
            return false;
        if (m_Socket == INVALID_SOCKET)
            return false; // released while open: nothing can arrive any more
        Process();
        if (m_bMessageArrived)
            return true;
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            return false;
        const unsigned int cap = m_iSendLen > m_iSendPos ? kSendingWaitMs : kIdleWaitMs;
        const uint64_t wait = std::min<uint64_t>(deadline - now, cap);
        if (m_Socket != INVALID_SOCKET && !m_bClosed)
            SocketWaitReadable(m_Socket, static_cast<int>(wait));
    }
    RX_GUARD_END("NET_CONNECT::ProcessDoTransfercomplete")
}

void NET_CONNECT::ProcessFor(unsigned int budgetMs)
{
    RX_GUARD_BEGIN
    const uint64_t until = MonotonicMs() + budgetMs;
    // The first send is made even with an empty queue (a failed socket shows there); later
    // ones only when something waits to go out.
    bool first = true;
    for (;;) {
        if (first || m_iSendLen > m_iSendPos)
            ProcessSend();
        first = false;
        if (m_bClosed || m_Socket == INVALID_SOCKET || MonotonicMs() >= until)
            return;
        const int state = m_iRecvState;
        const uint64_t total = m_uRecvTotal;
        ProcessRecv();
        if (m_iRecvState != state || m_uRecvTotal != total)
            continue;
        // Nothing waiting (or an error, which the next call meets again). Inside a frame
        // the rest is on its way: it is waited for, within the budget.
        const bool inFrame = m_iRecvState == kRecvBody || (m_iRecvState == kRecvHeader && m_iRecvGot > 0);
        const uint64_t later = MonotonicMs();
        if (!inFrame || m_bClosed || m_Socket == INVALID_SOCKET || later >= until ||
            SocketWaitReadable(m_Socket, static_cast<int>(until - later)) != 1)
            return;
    }
    RX_GUARD_END("NET_CONNECT::ProcessFor")
}

void NET_CONNECT::Realese()
{
    RX_GUARD_BEGIN
    delete[] m_pSendBuf;
    m_pSendBuf = nullptr;
    m_iSendLen = 0;
    m_iSendPos = 0;
    delete[] m_pRecvBuf;
    m_pRecvBuf = nullptr;
    m_iRecvRoom = 0;
    if (m_Socket != INVALID_SOCKET) {
        shutdown(m_Socket, SD_RECEIVE);
        closesocket(m_Socket);
    }
    m_Socket = INVALID_SOCKET;
    RX_GUARD_END("NET_CONNECT::Realese")
}
