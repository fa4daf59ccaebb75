#include "update_server/chunk_pacer.h"

#include <algorithm>

void CHUNK_PACER::OnAck(uint32_t bytes, uint64_t queuedMs, uint64_t nowMs)
{
    // The client works on a chunk from when it was queued, or from when it finished the
    // previous one if that was later (the chunk waited in its buffers meanwhile).
    const uint64_t from = std::max(queuedMs, m_iLastAckMs);
    const uint64_t tookMs = std::max<uint64_t>(nowMs > from ? nowMs - from : 0, 1);
    m_iLastAckMs = nowMs;
    const uint64_t target = static_cast<uint64_t>(bytes) * kTargetMs / tookMs;
    const uint64_t grown = std::min<uint64_t>(target, static_cast<uint64_t>(m_iChunk) * kGrowth);
    m_iChunk = static_cast<uint32_t>(std::clamp<uint64_t>(grown, kMinChunk, kMaxChunk));
}
