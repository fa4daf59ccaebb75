#include "pack/zstd_entry.h"

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_getFrameHeader: the window a frame asks for
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "pack/crc32.h"
#include "pack/package_source.h"

namespace {

struct FREE_DCTX {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", v);
    return text;
}

ENTRY_DECODE Damaged(const PACK_INDEX_ENTRY&, const std::string& what, std::string* problem)
{
    *problem = what;
    return ENTRY_DECODE::kDamaged;
}

} // namespace

ENTRY_INPUT SourceInput(const PACKAGE_SOURCE& source)
{
    auto buffer = std::make_shared<std::vector<unsigned char>>(ZSTD_DStreamInSize());
    return [&source, buffer](uint64_t offset, uint32_t want, uint32_t* got) -> const unsigned char* {
        const uint32_t part = static_cast<uint32_t>(std::min<size_t>(want, buffer->size()));
        *got = source.ReadAt(offset, buffer->data(), part) ? part : 0;
        return buffer->data();
    };
}

ENTRY_DECODE DecodeZstdEntry(const PACK_INDEX_ENTRY& e, unsigned windowLogMax, const ENTRY_INPUT& input,
                             const ENTRY_OUTPUT& output, std::string* problem)
{
    // The frame's header first: what it decodes to and the window it needs, before any memory
    // is taken for it.
    unsigned char head[ZSTD_FRAMEHEADERSIZE_MAX];
    const uint32_t headSize = std::min<uint32_t>(e.dataSize, sizeof(head));
    for (uint32_t have = 0; have < headSize;) {
        uint32_t got = 0;
        const unsigned char* bytes = input(e.dataOffset + have, headSize - have, &got);
        if (got == 0)
            return Damaged(e, "its content cannot be read from the package", problem);
        std::copy(bytes, bytes + std::min(got, headSize - have), head + have);
        have += std::min(got, headSize - have);
    }
    const std::string limit = std::to_string(uint64_t{1} << windowLogMax) + " bytes this program decodes with";
    ZSTD_frameHeader frame{};
    const size_t headed = ZSTD_getFrameHeader(&frame, head, headSize);
    // Above what the library itself decodes at all here.
    if (ZSTD_isError(headed) && ZSTD_getErrorCode(headed) == ZSTD_error_frameParameter_windowTooLarge)
        return Damaged(e, "the frame's window is above the " + limit, problem);
    if (ZSTD_isError(headed) || headed != 0 || frame.frameType != ZSTD_frame)
        return Damaged(e, "not a zstd frame", problem);
    if (frame.frameContentSize != e.decodedSize)
        return Damaged(e,
                       frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN
                           ? "the frame does not record its size"
                           : "the frame says it decodes to " + std::to_string(frame.frameContentSize) +
                                 " bytes, the entry " + std::to_string(e.decodedSize),
                       problem);
    if (frame.windowSize > (uint64_t{1} << windowLogMax))
        return Damaged(e,
                       "the frame's window (" + std::to_string(frame.windowSize) + " bytes) is above the " + limit,
                       problem);

    std::unique_ptr<ZSTD_DCtx, FREE_DCTX> dctx(ZSTD_createDCtx());
    if (!dctx || ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, static_cast<int>(windowLogMax)))) {
        *problem = "no memory to decode it";
        return ENTRY_DECODE::kWriteFailed;
    }
    std::vector<unsigned char> out(ZSTD_DStreamOutSize());
    uint32_t storedCrc = 0, decodedCrc = 0;
    uint64_t decoded = 0;
    bool ended = false;
    for (uint32_t done = 0; done < e.dataSize;) {
        uint32_t got = 0;
        const unsigned char* bytes = input(e.dataOffset + done, e.dataSize - done, &got);
        got = std::min(got, e.dataSize - done);
        if (got == 0)
            return Damaged(e, "its content cannot be read from the package", problem);
        storedCrc = Crc32(storedCrc, bytes, got);
        done += got;
        if (ended)
            return Damaged(e, "bytes follow its zstd frame", problem);
        ZSTD_inBuffer in{bytes, got, 0};
        for (;;) {
            ZSTD_outBuffer o{out.data(), out.size(), 0};
            const size_t left = ZSTD_decompressStream(dctx.get(), &o, &in);
            if (ZSTD_isError(left))
                return Damaged(e, std::string("the zstd frame cannot be decoded: ") + ZSTD_getErrorName(left), problem);
            if (o.pos != 0) {
                decoded += o.pos;
                if (decoded > e.decodedSize)
                    return Damaged(e, "decodes to more than the " + std::to_string(e.decodedSize) + " bytes it records",
                                   problem);
                decodedCrc = Crc32(decodedCrc, out.data(), o.pos);
                if (!output(out.data(), o.pos)) {
                    *problem = "could not be written whole";
                    return ENTRY_DECODE::kWriteFailed;
                }
            }
            if (left == 0) {
                ended = true;
                if (in.pos != in.size)
                    return Damaged(e, "bytes follow its zstd frame", problem);
                break;
            }
            // Output space left over and all input taken: the frame wants more input.
            if (in.pos == in.size && o.pos < o.size)
                break;
        }
    }
    if (!ended)
        return Damaged(e, "its zstd frame ends early", problem);
    if (storedCrc != e.contentCrc)
        return Damaged(e, "content checksum mismatch: stored " + Hex(e.contentCrc) + ", content gives " + Hex(storedCrc),
                       problem);
    if (decoded != e.decodedSize)
        return Damaged(e,
                       "decodes to " + std::to_string(decoded) + " bytes, not the " + std::to_string(e.decodedSize) +
                           " it records",
                       problem);
    if (decodedCrc != e.decodedCrc)
        return Damaged(e, "decoded checksum mismatch: recorded " + Hex(e.decodedCrc) + ", the file gives " +
                              Hex(decodedCrc),
                       problem);
    return ENTRY_DECODE::kOk;
}
