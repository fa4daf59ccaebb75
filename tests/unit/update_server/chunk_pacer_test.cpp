#include <gtest/gtest.h>

#include "update_server/chunk_pacer.h"

namespace {

// Acknowledges chunks back to back, each taking `ms` from the previous acknowledgement;
// returns the chunk size after `acks` of them.
uint32_t AfterAcks(CHUNK_PACER& pacer, int acks, uint64_t ms, uint64_t* clock)
{
    for (int i = 0; i < acks; ++i) {
        const uint64_t queued = *clock;
        *clock += ms;
        pacer.OnAck(pacer.ChunkSize(), queued, *clock);
    }
    return pacer.ChunkSize();
}

} // namespace

TEST(ChunkPacer, GrowsEightfoldWhileTheClientIsPromptUpToTheCap)
{
    struct STEP {
        uint64_t ms; // the acknowledgement's time from the previous one
        uint32_t next;
    };
    // A launcher takes a chunk that a tick of its link brings in two 15 ms ticks
    // (header, then body); the first acknowledgement also carries a 40 ms round trip.
    const STEP steps[] = {
        {100, 4u << 20}, {30, 16u << 20}, {150, 16u << 20}, {400, 16u << 20},
    };
    CHUNK_PACER pacer;
    uint64_t clock = 1000;
    EXPECT_EQ(pacer.ChunkSize(), 512u << 10);
    for (const STEP& s : steps) {
        SCOPED_TRACE(s.ms);
        EXPECT_EQ(AfterAcks(pacer, 1, s.ms, &clock), s.next);
    }
    // The cap keeps the launcher's frame buffer small.
    EXPECT_EQ(CHUNK_PACER::kMaxChunk, 16u << 20);
}

TEST(ChunkPacer, ChunksSettleAtOneSecondOfTheClientsRate)
{
    struct CASE {
        uint64_t bytesPerSecond;
        uint32_t settled;
    };
    // The chunk settles at kTargetMs (one second) worth of the client's rate, within the bounds.
    const CASE cases[] = {
        {1000000, 1000000},
        {5000000, 5000000},
        {40000, CHUNK_PACER::kMinChunk},
        {10000, CHUNK_PACER::kMinChunk},
        {12500000, 12500000},                // 100 Mbit/s
        {125000000, CHUNK_PACER::kMaxChunk}, // 1 Gbit/s
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.bytesPerSecond);
        CHUNK_PACER pacer;
        uint64_t clock = 0;
        for (int i = 0; i < 20; ++i) {
            const uint64_t queued = clock;
            clock += pacer.ChunkSize() * 1000ull / c.bytesPerSecond;
            pacer.OnAck(pacer.ChunkSize(), queued, clock);
        }
        EXPECT_NEAR(pacer.ChunkSize(), c.settled, c.settled / 100);
    }
}

TEST(ChunkPacer, MeasuresFromTheLaterOfQueueingAndThePreviousAcknowledgement)
{
    // Pipelined: the chunk was queued long before, but the client only started on it
    // when it finished the previous one (10 ms ago): prompt, so the size grows eightfold.
    CHUNK_PACER pipelined;
    pipelined.OnAck(512u << 10, 990, 1000);
    EXPECT_EQ(pipelined.ChunkSize(), 4u << 20);
    pipelined.OnAck(4u << 20, 0, 1010);
    EXPECT_EQ(pipelined.ChunkSize(), 16u << 20);

    // Deferred: queued 10 ms before its acknowledgement, long after the previous one.
    CHUNK_PACER deferred;
    deferred.OnAck(512u << 10, 990, 1000);
    deferred.OnAck(4u << 20, 5000, 5010);
    EXPECT_EQ(deferred.ChunkSize(), 16u << 20);

    // Taken over two seconds from the previous acknowledgement: shrinks at once.
    CHUNK_PACER slow;
    slow.OnAck(512u << 10, 0, 10);
    slow.OnAck(4u << 20, 0, 2010);
    EXPECT_EQ(slow.ChunkSize(), 2u << 20);
}
