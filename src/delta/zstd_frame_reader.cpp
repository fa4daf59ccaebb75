#include "delta/zstd_frame_reader.h"

#include <cstdlib>
#include <zstd.h>
#include <zstd_errors.h>

namespace {

ZSTD_DCtx* Context(void* p)
{
    return static_cast<ZSTD_DCtx*>(p);
}

std::string FrameError(size_t code)
{
    if (ZSTD_getErrorCode(code) == ZSTD_error_frameParameter_windowTooLarge)
        return "the frame's window is above this program's limit";
    return std::string("the frame is damaged (") + ZSTD_getErrorName(code) + ")";
}

} // namespace

ZSTD_FRAME_READER::ZSTD_FRAME_READER()
    : m_pContext(ZSTD_createDCtx()), m_pBlock(static_cast<unsigned char*>(std::malloc(kInputBlock)))
{
}

ZSTD_FRAME_READER::~ZSTD_FRAME_READER()
{
    ZSTD_freeDCtx(Context(m_pContext));
    std::free(m_pBlock);
}

bool ZSTD_FRAME_READER::Begin(DELTA_INPUT* input, uint64_t offset, uint64_t size, int windowLogMax,
                              const void* prefix, size_t prefixSize, std::string* reason)
{
    if (m_pContext == nullptr || m_pBlock == nullptr) {
        *reason = "no memory for a decoder";
        return false;
    }
    ZSTD_DCtx* dctx = Context(m_pContext);
    ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
    size_t result = ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, windowLogMax);
    if (!ZSTD_isError(result) && prefix != nullptr)
        result = ZSTD_DCtx_refPrefix(dctx, prefix, prefixSize);
    if (ZSTD_isError(result)) {
        *reason = FrameError(result);
        return false;
    }
    m_pInput = input;
    m_uNext = offset;
    m_uRemaining = size;
    m_uBlockSize = 0;
    m_uBlockPos = 0;
    m_bDone = false;
    return true;
}

bool ZSTD_FRAME_READER::Refill(std::string* reason)
{
    const uint32_t take = m_uRemaining < kInputBlock ? static_cast<uint32_t>(m_uRemaining) : kInputBlock;
    if (!m_pInput->ReadAt(m_uNext, m_pBlock, take)) {
        *reason = "the package cannot be read";
        return false;
    }
    m_uNext += take;
    m_uRemaining -= take;
    m_uBlockSize = take;
    m_uBlockPos = 0;
    return true;
}

bool ZSTD_FRAME_READER::ReadSome(void* out, size_t capacity, size_t* got, std::string* reason)
{
    *got = 0;
    if (m_bDone || capacity == 0)
        return true;
    ZSTD_outBuffer output = {out, capacity, 0};
    for (;;) {
        if (m_uBlockPos == m_uBlockSize && m_uRemaining != 0 && !Refill(reason))
            return false;
        ZSTD_inBuffer input = {m_pBlock, m_uBlockSize, m_uBlockPos};
        const size_t result = ZSTD_decompressStream(Context(m_pContext), &output, &input);
        m_uBlockPos = input.pos;
        if (ZSTD_isError(result)) {
            *reason = FrameError(result);
            return false;
        }
        if (result == 0)
            m_bDone = true;
        if (output.pos != 0 || m_bDone)
            break;
        // Nothing came out and nothing is left to go in: the frame was cut short.
        if (m_uBlockPos == m_uBlockSize && m_uRemaining == 0) {
            *reason = "the frame is cut short";
            return false;
        }
    }
    *got = output.pos;
    return true;
}

bool ZSTD_FRAME_READER::Read(void* out, size_t size, std::string* reason)
{
    unsigned char* p = static_cast<unsigned char*>(out);
    while (size != 0) {
        size_t got = 0;
        if (!ReadSome(p, size, &got, reason))
            return false;
        if (got == 0) {
            *reason = "a stream ends before its data";
            return false;
        }
        p += got;
        size -= got;
    }
    return true;
}

bool ZSTD_FRAME_READER::Finish(std::string* reason)
{
    unsigned char extra;
    size_t got = 0;
    if (!ReadSome(&extra, 1, &got, reason))
        return false;
    if (got != 0) {
        *reason = "a stream holds more than its data";
        return false;
    }
    if (m_uBlockPos != m_uBlockSize || m_uRemaining != 0) {
        *reason = "bytes follow the frame";
        return false;
    }
    return true;
}
