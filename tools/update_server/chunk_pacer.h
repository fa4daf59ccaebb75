// The chunk size of one transfer, adapted to how fast the client takes chunks.
//
// The launcher reads one frame header or one block of a body per 15 ms tick, so a chunk
// costs it a tick for the header plus the ticks for its body: small chunks cap a fast
// client at a few MB/s. The pacer starts at kStartChunk and, on each acknowledgement,
// measures how long the client took for that chunk; the next chunk is sized to about
// kTargetMs of the client's measured rate, growing at most kGrowth-fold per
// acknowledgement. A slow client keeps small chunks, so little memory waits in its send
// queue; a fast one gets chunks of up to kMaxChunk, so that few of its ticks go to frame
// headers.
//
// The start decides how long a fast client waits for its link: from 512 KiB, two prompt
// acknowledgements reach the cap. The cap bounds the client's frame buffer and this
// server's copy of the chunk; a larger one gains a gigabit link nothing (the client's
// receive buffer absorbs its header ticks), while blocks above 32 MiB come fresh from
// the system for every chunk, on both sides.
#pragma once

#include <cstdint>

class CHUNK_PACER {
public:
    static constexpr uint32_t kStartChunk = 512u << 10;
    static constexpr uint32_t kMinChunk = 64u << 10;
    static constexpr uint32_t kMaxChunk = 16u << 20;
    // Time the client should spend on one chunk at its measured rate.
    static constexpr uint64_t kTargetMs = 1000;
    // Most growth from one acknowledgement to the next.
    static constexpr uint64_t kGrowth = 8;

    uint32_t ChunkSize() const { return m_iChunk; }

    // A chunk of `bytes` queued at queuedMs was acknowledged at nowMs.
    void OnAck(uint32_t bytes, uint64_t queuedMs, uint64_t nowMs);

private:
    uint32_t m_iChunk = kStartChunk;
    uint64_t m_iLastAckMs = 0;
};
