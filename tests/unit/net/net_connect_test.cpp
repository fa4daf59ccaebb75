#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/rx_exs.h"
#include "net/net_connect.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "support/net_loopback.h"
#include "support/trace_capture.h"

namespace {

// A NET_CONNECT on one end of a loopback pair, a raw socket on the other.
struct CONNECTED_PAIR {
    NET_CONNECT connection;
    SOCKET_HOLDER peer;
    MESSAGE_RECORDER receiver;

    bool Open(int bufferBytes = 0)
    {
        SOCKET ours = INVALID_SOCKET;
        SOCKET theirs = INVALID_SOCKET;
        if (!MakeLoopbackPair(&ours, &theirs, bufferBytes))
            return false;
        connection.m_Socket = ours;
        connection.m_bClosed = false;
        connection.m_pReceiver = &receiver;
        peer.Reset(theirs);
        return true;
    }

    // One Process step once our end has something to read (bounded).
    void StepWhenReadable()
    {
        SocketWaitReadable(connection.m_Socket, 2000);
        connection.Process();
    }
};

std::string Pattern(size_t n)
{
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// The labels of the failure lines ("LABEL\t| file:..."), in order.
std::vector<std::string> FailureLabels(const TRACE_CAPTURE& trace)
{
    std::vector<std::string> labels;
    for (const std::string& line : trace.LogLines()) {
        const size_t end = line.find("\t| file:");
        if (end != std::string::npos)
            labels.push_back(line.substr(0, end));
    }
    return labels;
}

} // namespace

// ---- what goes out ----

TEST(NetConnectSend, FramesLeaveAsExactBytes)
{
    struct CASE {
        const char* name;
        void (*queue)(NET_CONNECT&);
        std::string wire;
    };
    const CASE cases[] = {
        {"Send_iMsg(262, null, 0)", [](NET_CONNECT& c) { c.Send_iMsg(262, nullptr, 0); },
         Bytes({0x06, 0x01, 0, 0, 0, 0, 0, 0})},
        {"Send_iMsg(-1, null, 0)", [](NET_CONNECT& c) { c.Send_iMsg(-1, nullptr, 0); },
         Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})},
        {"id 256 with dwords 1002, 0, 0",
         [](NET_CONNECT& c) {
             NET_MESSAGE_HELPER h;
             h.PushDword(1002);
             h.PushDword(0);
             h.PushDword(0);
             h.Send(&c, 256);
         },
         Bytes({0x00, 0x01, 0, 0, 0x0C, 0, 0, 0, 0xEA, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"raw bytes, then a frame with a body",
         [](NET_CONNECT& c) {
             c.Send("xyz", 3);
             c.Send_iMsg(300, "hi", 2);
         },
         Bytes({'x', 'y', 'z', 0x2C, 0x01, 0, 0, 2, 0, 0, 0, 'h', 'i'})},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        CONNECTED_PAIR pair;
        ASSERT_TRUE(pair.Open());
        c.queue(pair.connection);
        pair.connection.Process();
        std::string wire;
        EXPECT_TRUE(RecvExactly(pair.peer.Get(), c.wire.size(), &wire, 2000));
        EXPECT_EQ(Hex(wire), Hex(c.wire));
        EXPECT_EQ(SocketWaitReadable(pair.peer.Get(), 20), 0) << "more bytes than the frame";
        EXPECT_EQ(pair.connection.m_pSendBuf, nullptr);
        EXPECT_EQ(pair.connection.m_iSendLen, 0);
        EXPECT_FALSE(pair.connection.m_bClosed);
    }
}

TEST(NetConnectSend, EmptyOrNullInputLeavesTheQueue)
{
    NET_CONNECT c;
    c.Send(nullptr, 5);
    c.Send("abc", 0);
    EXPECT_EQ(c.m_pSendBuf, nullptr);
    EXPECT_EQ(c.m_iSendLen, 0);
    c.Send("ab", 2);
    c.Send(nullptr, 3);
    c.Send("cd", 0);
    ASSERT_EQ(c.m_iSendLen, 2);
    EXPECT_EQ(std::string(c.m_pSendBuf, 2), "ab");
}

TEST(NetConnectSend, LargeQueueLeavesInCappedStepsAndCompactsOnAppend)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open(1 << 20));
    NET_CONNECT& c = pair.connection;
    const std::string data = Pattern(100000);
    c.Send(data.data(), static_cast<int>(data.size()));

    c.Process();
    EXPECT_EQ(c.m_iSendPos, 65536);
    EXPECT_EQ(c.m_iSendLen, 100000);
    std::string wire;
    ASSERT_TRUE(RecvExactly(pair.peer.Get(), 65536, &wire, 2000));
    EXPECT_TRUE(wire == data.substr(0, 65536));
    EXPECT_EQ(SocketWaitReadable(pair.peer.Get(), 20), 0);

    // An append drops the bytes already sent and moves the rest to the front.
    c.Send("tail", 4);
    EXPECT_EQ(c.m_iSendPos, 0);
    EXPECT_EQ(c.m_iSendLen, 34464 + 4);
    EXPECT_EQ(std::memcmp(c.m_pSendBuf, data.data() + 65536, 34464), 0);

    c.Process();
    EXPECT_EQ(c.m_pSendBuf, nullptr);
    EXPECT_EQ(c.m_iSendLen, 0);
    ASSERT_TRUE(RecvExactly(pair.peer.Get(), 34464 + 4, &wire, 2000));
    EXPECT_TRUE(wire == data.substr(65536) + "tail");
}

TEST(NetConnectSend, PartialSendsKeepTheRestInOrder)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open(16384));
    NET_CONNECT& c = pair.connection;
    ASSERT_TRUE(SocketSetNonBlocking(c.m_Socket, true));
    const std::string data = Pattern(1 << 20);
    c.Send(data.data(), static_cast<int>(data.size()));

    std::string wire;
    int partialSteps = 0;
    char buffer[4096];
    const uint64_t deadline = MonotonicMs() + 20000;
    while (wire.size() < data.size() && MonotonicMs() < deadline && !c.m_bClosed) {
        const int before = c.m_iSendPos;
        const int pending = c.m_iSendLen - c.m_iSendPos;
        c.Process();
        const int sent = c.m_iSendLen == 0 ? pending : c.m_iSendPos - before;
        if (sent > 0 && sent < 65536 && sent < pending)
            ++partialSteps;
        // A slow reader: one small read per step.
        if (SocketWaitReadable(pair.peer.Get(), 5) == 1) {
            const int got = static_cast<int>(recv(pair.peer.Get(), buffer, sizeof(buffer), 0));
            ASSERT_GT(got, 0);
            wire.append(buffer, static_cast<size_t>(got));
        }
    }
    EXPECT_FALSE(c.m_bClosed);
    EXPECT_GT(partialSteps, 0);
    ASSERT_EQ(wire.size(), data.size());
    EXPECT_TRUE(wire == data);
}

TEST(NetConnectSend, EveryStepSendsEvenWithAnEmptyQueue)
{
    TRACE_CAPTURE trace;
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    pair.connection.m_strName = "peer";
    pair.connection.Process();
    EXPECT_FALSE(pair.connection.m_bClosed);
    EXPECT_TRUE(trace.ErrorTexts().empty());

    // With the send side shut, the zero-byte send of the next step fails.
    shutdown(pair.connection.m_Socket, SD_SEND);
    pair.connection.Process();
    EXPECT_TRUE(pair.connection.m_bClosed);
    const std::vector<std::string> errors = trace.ErrorTexts();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("NET_CONNECT: send(...) to:peer failed, error ", 0), 0u) << errors[0];
    ASSERT_EQ(trace.m_Entries.size(), 1u);
    EXPECT_EQ(trace.m_Entries[0].file, "net/net_connect.cpp");
}

// ---- what comes in ----

TEST(NetConnectRecv, HeaderLimitsAndTransportIds)
{
    struct CASE {
        uint32_t id;
        uint32_t length;
        bool accepted;  // the header passes the limits
        bool delivered; // the receiver sees it
    };
    const CASE cases[] = {
        {2, 0, true, false},     {255, 0, true, false},         {256, 0, true, true},
        {4096, 0, true, true},   {4097, 0, false, false},       {0xFFFFFFFFu, 0, false, false},
        {256, 100000000, true, false}, {256, 100000001, false, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " length " << c.length);
        CONNECTED_PAIR pair;
        ASSERT_TRUE(pair.Open());
        NET_CONNECT& conn = pair.connection;
        ASSERT_TRUE(SendAll(pair.peer.Get(), FrameHeader(c.id, c.length)));
        pair.StepWhenReadable();
        EXPECT_EQ(conn.m_bMessageArrived, c.delivered);
        EXPECT_EQ(pair.receiver.m_Messages.size(), c.delivered ? 1u : 0u);
        if (c.delivered) {
            EXPECT_EQ(pair.receiver.m_Messages[0].id, static_cast<short>(c.id));
            EXPECT_EQ(pair.receiver.m_Messages[0].body, "");
        }
        if (c.length != 0 && c.accepted) {
            // Waiting for the body.
            EXPECT_EQ(conn.m_iRecvState, NET_CONNECT::kRecvBody);
            EXPECT_EQ(conn.m_iRecvWant, static_cast<int>(c.length));
            continue;
        }
        EXPECT_EQ(conn.m_iRecvState, NET_CONNECT::kRecvIdle);
        // A dropped header is not resynchronised: the next 8 bytes are a header again.
        ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(300, "ok")));
        pair.StepWhenReadable();
        pair.StepWhenReadable();
        ASSERT_EQ(pair.receiver.m_Messages.size(), c.delivered ? 2u : 1u);
        EXPECT_EQ(pair.receiver.m_Messages.back().id, 300);
        EXPECT_EQ(pair.receiver.m_Messages.back().body, "ok");
        EXPECT_FALSE(conn.m_bClosed);
    }
}

TEST(NetConnectRecv, FrameFedOneByteAtATimeIsDeliveredOnce)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    const std::string frame = Frame(300, "hello");
    for (size_t i = 0; i < frame.size(); ++i) {
        ASSERT_TRUE(SendAll(pair.peer.Get(), frame.substr(i, 1)));
        pair.StepWhenReadable();
        ASSERT_EQ(pair.receiver.m_Messages.size(), i + 1 == frame.size() ? 1u : 0u) << "after byte " << i;
    }
    EXPECT_EQ(pair.receiver.m_Messages[0].id, 300);
    EXPECT_EQ(pair.receiver.m_Messages[0].body, "hello");
    pair.connection.Process();
    EXPECT_EQ(pair.receiver.m_Messages.size(), 1u);
}

TEST(NetConnectRecv, TwoFramesInOneSegmentArriveInTwoSteps)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    NET_CONNECT& c = pair.connection;
    const char* firstBody = nullptr;
    pair.receiver.m_OnMessage = [&](short id, const char* data, int) {
        if (id == 300)
            firstBody = data;
    };
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(300, "first") + Frame(301, "second!") + Frame(302, "")));

    pair.StepWhenReadable(); // header of the first
    EXPECT_TRUE(pair.receiver.m_Messages.empty());
    pair.StepWhenReadable(); // its body
    ASSERT_EQ(pair.receiver.m_Messages.size(), 1u);
    // The body stays valid (and in place) until the next header is started.
    ASSERT_EQ(firstBody, c.m_pRecvBuf);
    EXPECT_EQ(std::string(firstBody, 5), "first");
    pair.StepWhenReadable(); // header of the second
    EXPECT_EQ(c.m_iRecvState, NET_CONNECT::kRecvBody);
    EXPECT_EQ(pair.receiver.m_Messages.size(), 1u);
    pair.StepWhenReadable(); // its body
    pair.StepWhenReadable(); // the header-only third, in the step that completes its header
    ASSERT_EQ(pair.receiver.m_Messages.size(), 3u);
    EXPECT_EQ(pair.receiver.m_Messages[1].id, 301);
    EXPECT_EQ(pair.receiver.m_Messages[1].body, "second!");
    EXPECT_EQ(pair.receiver.m_Messages[2].id, 302);
    EXPECT_EQ(pair.receiver.m_Messages[2].body, "");
}

// A header may announce up to 100,000,000 bytes: the buffer is had only as the body
// arrives, doubling from 64 KiB, and the body comes out whole across every growth.
TEST(NetConnectRecv, TheBodysBufferFollowsTheBytesThatArrived)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    NET_CONNECT& c = pair.connection;
    ASSERT_TRUE(SendAll(pair.peer.Get(), FrameHeader(300u, NET_CONNECT::kMaxRecvBody)));
    pair.StepWhenReadable();
    EXPECT_TRUE(c.ReceivingBody());
    EXPECT_EQ(c.m_iRecvRoom, NET_CONNECT::kHeaderSize) << "a header alone commits nothing";
    pair.connection.Process();
    EXPECT_EQ(c.m_iRecvRoom, NET_CONNECT::kHeaderSize);
    c.Realese();

    CONNECTED_PAIR growing;
    ASSERT_TRUE(growing.Open());
    NET_CONNECT& g = growing.connection;
    const std::string body = Pattern(300000);
    ASSERT_TRUE(SendAll(growing.peer.Get(), FrameHeader(300u, static_cast<uint32_t>(body.size()))));
    growing.StepWhenReadable();
    std::vector<int> rooms;
    for (size_t sent = 0; sent < body.size(); sent += 1000) {
        ASSERT_TRUE(SendAll(growing.peer.Get(), body.substr(sent, 1000)));
        while (g.ReceivingBody() && g.m_iRecvGot < static_cast<int>(std::min(sent + 1000, body.size())))
            growing.StepWhenReadable();
        if (!g.ReceivingBody())
            break;
        EXPECT_LE(g.m_iRecvRoom, std::max(2 * g.m_iRecvGot, NET_CONNECT::kFirstBodyBlock)) << "at " << sent;
        if (rooms.empty() || rooms.back() != g.m_iRecvRoom)
            rooms.push_back(g.m_iRecvRoom);
    }
    EXPECT_EQ(rooms, (std::vector<int>{65536, 131072, 262144, 300000}));
    ASSERT_EQ(growing.receiver.m_Messages.size(), 1u);
    EXPECT_TRUE(growing.receiver.m_Messages[0].body == body);

    // The buffer serves the next frames: a smaller body needs no more room, a larger one
    // grows it from there.
    const std::string next = Pattern(250000);
    ASSERT_TRUE(SendAll(growing.peer.Get(), Frame(301u, next)));
    for (int step = 0; step < 100 && growing.receiver.m_Messages.size() < 2; ++step)
        growing.StepWhenReadable();
    ASSERT_EQ(growing.receiver.m_Messages.size(), 2u);
    EXPECT_TRUE(growing.receiver.m_Messages[1].body == next);
    EXPECT_EQ(g.m_iRecvRoom, 300000);
    ASSERT_TRUE(SendAll(growing.peer.Get(), Frame(302u, std::string(400000, 'n'))));
    for (int step = 0; step < 100 && growing.receiver.m_Messages.size() < 3; ++step)
        growing.StepWhenReadable();
    ASSERT_EQ(growing.receiver.m_Messages.size(), 3u);
    EXPECT_EQ(growing.receiver.m_Messages[2].body, std::string(400000, 'n'));
    EXPECT_EQ(g.m_iRecvRoom, 400000);
}

// Frames of every size around the buffer's steps, back to back and cut into pieces of
// every kind, arrive intact whatever room the buffer kept from the frame before.
TEST(NetConnectRecv, FramesOfMixedSizesArriveIntactInAnyPieces)
{
    const size_t sizes[] = {0, 9, 8, 70000, 1, 65536, 65537, 3, 200000, 7, 131073};
    std::string stream;
    std::vector<std::string> bodies;
    for (size_t n : sizes) {
        bodies.push_back(Pattern(n + bodies.size()).substr(bodies.size()));
        stream += Frame(300u + static_cast<uint32_t>(bodies.size()), bodies.back());
    }
    for (size_t piece : {stream.size(), size_t{1000}, size_t{65535}, size_t{7}}) {
        SCOPED_TRACE(piece);
        CONNECTED_PAIR pair;
        ASSERT_TRUE(pair.Open());
        for (size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(SendAll(pair.peer.Get(), stream.substr(at, piece)));
            while (SocketWaitReadable(pair.connection.m_Socket, 0) == 1 && !pair.connection.m_bClosed)
                pair.connection.Process();
        }
        ASSERT_EQ(pair.receiver.m_Messages.size(), bodies.size());
        for (size_t i = 0; i < bodies.size(); ++i)
            EXPECT_TRUE(pair.receiver.m_Messages[i].body == bodies[i]) << "frame " << i;
    }
}

// Bodies a receiver takes in pieces (ids from 400 here) come in order, each piece between
// min(kMinPieceBytes, the rest) and kPieceBytes, `last` on the one that ends the body and
// on no other; frames taken whole around them are untouched.
TEST(NetConnectRecv, BodiesTakenInPiecesArriveInOrderWithinTheirBounds)
{
    struct PIECES final : NET_MESSAGE_RECEIVER {
        std::vector<std::string> whole, assembled;
        std::string current;
        std::vector<std::string> faults;
        void ProcessMessage(short, const char* data, int length) override { whole.emplace_back(data, length); }
        bool TakesBodyInPieces(short id, uint32_t) override { return id >= 400; }
        void ProcessMessagePiece(short, const char* data, int length, uint32_t offset, bool last) override
        {
            if (offset != current.size())
                faults.push_back("offset " + std::to_string(offset) + " after " + std::to_string(current.size()));
            if (length <= 0 || length > NET_CONNECT::kPieceBytes)
                faults.push_back("a piece of " + std::to_string(length));
            current.append(data, static_cast<size_t>(length));
            if (last) {
                assembled.push_back(current);
                current.clear();
            }
            pieces.push_back(length);
        }
        std::vector<int> pieces;
    };
    const size_t sizes[] = {70000, 5, 1200000, 16384, 9, 524288, 524289};
    std::string stream;
    std::vector<std::string> bodies;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        bodies.push_back(Pattern(sizes[i] + i).substr(i));
        stream += Frame((i % 2 == 0 ? 400u : 300u) + static_cast<uint32_t>(i), bodies.back());
    }
    for (size_t piece : {stream.size(), size_t{1000}, size_t{65535}}) {
        SCOPED_TRACE(piece);
        CONNECTED_PAIR pair;
        ASSERT_TRUE(pair.Open());
        PIECES receiver;
        pair.connection.m_pReceiver = &receiver;
        for (size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(SendAll(pair.peer.Get(), stream.substr(at, piece)));
            while (SocketWaitReadable(pair.connection.m_Socket, 0) == 1 && !pair.connection.m_bClosed)
                pair.connection.Process();
        }
        EXPECT_EQ(receiver.faults, std::vector<std::string>{});
        ASSERT_EQ(receiver.assembled.size(), 4u);
        ASSERT_EQ(receiver.whole.size(), 3u);
        for (size_t i = 0; i < bodies.size(); ++i)
            EXPECT_TRUE((i % 2 == 0 ? receiver.assembled[i / 2] : receiver.whole[i / 2]) == bodies[i]) << i;
        // Every piece but a body's last holds at least kMinPieceBytes (all bodies here are larger).
        size_t small = 0;
        for (int n : receiver.pieces)
            small += n < NET_CONNECT::kMinPieceBytes ? 1 : 0;
        EXPECT_LE(small, 4u);
        EXPECT_LE(pair.connection.m_iRecvRoom, NET_CONNECT::kPieceBytes) << "memory stays at one piece";
    }
}

// A step waits for the rest of a frame under way within its budget, and not at all
// between frames.
TEST(NetConnectRecv, AStepWaitsOnlyInsideAFrameAndOnlyForItsBudget)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    uint64_t start = MonotonicMs();
    pair.connection.ProcessFor(5000);
    EXPECT_LT(MonotonicMs() - start, 2500u) << "nothing under way: no wait";
    ASSERT_TRUE(SendAll(pair.peer.Get(), FrameHeader(300u, 100) + "half"));
    SocketWaitReadable(pair.connection.m_Socket, 2000);
    start = MonotonicMs();
    pair.connection.ProcessFor(300);
    const uint64_t took = MonotonicMs() - start;
    EXPECT_GE(took, 290u) << "the rest of the body is waited for";
    EXPECT_LT(took, 2500u);
    EXPECT_EQ(pair.connection.m_iRecvGot, 4);
    EXPECT_FALSE(pair.connection.m_bClosed);
}

TEST(NetConnectRecv, PeerCloseClosesTheConnection)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    pair.peer.Reset();
    pair.StepWhenReadable();
    EXPECT_TRUE(pair.connection.m_bClosed);
    // A closed connection makes no socket call any more.
    const unsigned long waits = SocketWaitCount();
    pair.connection.Process();
    EXPECT_FALSE(pair.connection.ProcessDoTransfercomplete(1000));
    EXPECT_EQ(SocketWaitCount(), waits);
}

// ---- waiting for an answer ----

TEST(NetConnectWait, SendsTheRequestAndEndsWithTheFirstApplicationMessage)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    // The greeting (id 2) and any id up to 255 do not end the wait.
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(2, "") + Frame(255, "x") + Frame(262, "reply") + Frame(263, "later")));
    pair.connection.Send_iMsg(262, nullptr, 0);
    bool seenBeforeReturn = false;
    pair.receiver.m_OnMessage = [&](short, const char*, int) { seenBeforeReturn = true; };
    EXPECT_TRUE(pair.connection.ProcessDoTransfercomplete(5000));
    EXPECT_TRUE(seenBeforeReturn);
    ASSERT_EQ(pair.receiver.m_Messages.size(), 1u);
    EXPECT_EQ(pair.receiver.m_Messages[0].id, 262);
    EXPECT_EQ(pair.receiver.m_Messages[0].body, "reply");
    std::string request;
    EXPECT_TRUE(RecvExactly(pair.peer.Get(), 8, &request, 2000));
    EXPECT_EQ(Hex(request), "06 01 00 00 00 00 00 00");
}

TEST(NetConnectWait, ASilentPeerEndsTheWaitAtTheBound)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(2, "")));
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(pair.connection.ProcessDoTransfercomplete(300));
    const uint64_t elapsed = MonotonicMs() - start;
    EXPECT_GE(elapsed, 300u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_FALSE(pair.connection.m_bClosed);
    EXPECT_TRUE(pair.receiver.m_Messages.empty());
}

TEST(NetConnectWait, EndsFalseWhenThePeerCloses)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(2, "")));
    pair.peer.Reset();
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(pair.connection.ProcessDoTransfercomplete(10000));
    EXPECT_LT(MonotonicMs() - start, 5000u);
    EXPECT_TRUE(pair.connection.m_bClosed);
}

TEST(NetConnectWait, EndsFalseAtOnceWhenReleasedWhileOpen)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    pair.connection.Realese();
    EXPECT_FALSE(pair.connection.m_bClosed);
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(pair.connection.ProcessDoTransfercomplete(10000));
    EXPECT_LT(MonotonicMs() - start, 1000u);
}

TEST(NetConnectWait, KeepsAFrameThatWasHalfReceived)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    const std::string frame = Frame(300, "whole");
    ASSERT_TRUE(SendAll(pair.peer.Get(), frame.substr(0, 4)));
    pair.StepWhenReadable();
    ASSERT_EQ(pair.connection.m_iRecvGot, 4);
    ASSERT_TRUE(SendAll(pair.peer.Get(), frame.substr(4)));
    EXPECT_TRUE(pair.connection.ProcessDoTransfercomplete(5000));
    ASSERT_EQ(pair.receiver.m_Messages.size(), 1u);
    EXPECT_EQ(pair.receiver.m_Messages[0].id, 300);
    EXPECT_EQ(pair.receiver.m_Messages[0].body, "whole");
}

// ---- release ----

TEST(NetConnectRelease, ReceiverMayReleaseFromInsideTheDelivery)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    NET_CONNECT& c = pair.connection;
    std::string copied;
    pair.receiver.m_OnMessage = [&](short, const char* data, int length) {
        copied.assign(data, static_cast<size_t>(length)); // read before releasing
        c.Send_iMsg(261, nullptr, 0);
        c.Realese();
    };
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(259, "done") + Frame(300, "never")));
    EXPECT_TRUE(c.ProcessDoTransfercomplete(5000));
    EXPECT_EQ(copied, "done");
    EXPECT_EQ(c.m_Socket, INVALID_SOCKET);
    EXPECT_EQ(c.m_pRecvBuf, nullptr);
    EXPECT_EQ(c.m_pSendBuf, nullptr);
    EXPECT_EQ(c.m_iRecvState, NET_CONNECT::kRecvIdle);
    EXPECT_FALSE(c.m_bClosed);
    // Later steps find no socket and change nothing.
    c.Process();
    c.Process();
    EXPECT_EQ(pair.receiver.m_Messages.size(), 1u);
    EXPECT_EQ(c.m_pRecvBuf, nullptr);
    EXPECT_FALSE(c.ProcessDoTransfercomplete(1000));
    EXPECT_TRUE(WaitPeerClosed(pair.peer.Get(), 2000));
}

TEST(NetConnectRelease, SecondRealeseClosesNothing)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    pair.connection.Send("queued", 6);
    pair.connection.Realese();
    EXPECT_EQ(pair.connection.m_Socket, INVALID_SOCKET);
    EXPECT_EQ(pair.connection.m_iSendLen, 0);
    // A socket opened now may get the same handle number as the one just closed.
    SOCKET_HOLDER fresh(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_NE(fresh.Get(), INVALID_SOCKET);
    pair.connection.Realese();
    int type = 0;
    socklen_t length = sizeof(type);
    EXPECT_EQ(getsockopt(fresh.Get(), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), 0);
    EXPECT_EQ(type, SOCK_STREAM);
    EXPECT_TRUE(WaitPeerClosed(pair.peer.Get(), 2000));
}

// ---- failures inside the guarded methods ----

TEST(NetConnectGuard, AThrowingReceiverLeavesThroughEveryLabelAndTheStreamGoesOn)
{
    CONNECTED_PAIR pair;
    ASSERT_TRUE(pair.Open());
    pair.receiver.m_OnMessage = [](short id, const char*, int) {
        if (id == 300)
            throw "receiver failed";
    };
    ASSERT_TRUE(SendAll(pair.peer.Get(), Frame(300, "") + Frame(301, "next")));
    {
        TRACE_CAPTURE trace;
        try {
            pair.connection.ProcessDoTransfercomplete(5000);
            FAIL() << "the receiver's failure must reach the caller";
        } catch (const RXExs& e) {
            EXPECT_STREQ(e.Text(), "receiver failed");
        }
        const std::vector<std::string> lines = trace.LogLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "User Rised Exception\n");
        EXPECT_EQ(lines[1], std::string(57, '-') + "\n");
        const std::vector<std::string> expected = {"NET_CONNECT::ProcessMessage", "NET_CONNECT::ProcessRecv",
                                                   "NET_CONNECT::Process", "NET_CONNECT::ProcessDoTransfercomplete"};
        EXPECT_EQ(FailureLabels(trace), expected);
    }
    // The connection is between frames and carries on.
    EXPECT_TRUE(pair.connection.ProcessDoTransfercomplete(5000));
    ASSERT_EQ(pair.receiver.m_Messages.size(), 2u);
    EXPECT_EQ(pair.receiver.m_Messages[1].body, "next");

    TRACE_CAPTURE trace;
    EXPECT_THROW(pair.connection.Send("abc", -1), RXExs);
    EXPECT_THROW(pair.connection.Send_iMsg(300, "abc", -1), RXExs);
    EXPECT_THROW(pair.connection.Send_iMsg(300, nullptr, 3), RXExs);
    const std::vector<std::string> expected = {"NET_CONNECT::Send", "NET_CONNECT::Send_iMsg",
                                               "NET_CONNECT::Send_iMsg"};
    EXPECT_EQ(FailureLabels(trace), expected);
    EXPECT_EQ(pair.connection.m_iSendLen, 0);
}
