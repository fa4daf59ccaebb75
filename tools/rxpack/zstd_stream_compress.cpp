#include "zstd_stream_compress.h"

#include <memory>
#include <zstd.h>

namespace {

struct CCTX_FREE {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

} // namespace

bool CompressFrame(const void* data, size_t size, const DELTA_MAKE_OPTIONS& options, int windowLog,
                   const void* prefix, size_t prefixSize, std::vector<unsigned char>* out, std::string* reason)
{
    std::unique_ptr<ZSTD_CCtx, CCTX_FREE> cctx(ZSTD_createCCtx());
    if (!cctx) {
        *reason = "no memory for a compressor";
        return false;
    }
    ZSTD_CCtx* c = cctx.get();
    size_t r = ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, options.level);
    if (!ZSTD_isError(r) && windowLog != 0)
        r = ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog);
    if (!ZSTD_isError(r) && prefix != nullptr)
        r = ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
    // Worker threads where the library has them; without, it compresses on this one.
    if (!ZSTD_isError(r) && options.threads > 1)
        ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, options.threads);
    if (!ZSTD_isError(r) && prefix != nullptr)
        r = ZSTD_CCtx_refPrefix(c, prefix, prefixSize);
    if (ZSTD_isError(r)) {
        *reason = std::string("the compressor refused its settings (") + ZSTD_getErrorName(r) + ")";
        return false;
    }
    const size_t at = out->size();
    out->resize(at + ZSTD_compressBound(size));
    r = ZSTD_compress2(c, out->data() + at, out->size() - at, data, size);
    if (ZSTD_isError(r)) {
        out->resize(at);
        *reason = std::string("compression failed (") + ZSTD_getErrorName(r) + ")";
        return false;
    }
    out->resize(at + r);
    return true;
}
