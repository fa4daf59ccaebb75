#include "zstd_compress.h"

#ifdef VELGRIM_ZSTD_ENCODER

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "platform/replacing_file.h"

namespace {

// From this size on a file's repeats may lie further apart than the level's own window.
constexpr uint64_t kLongDistanceFrom = 16u << 20;
// Long-distance matching's window: zstd --long's, well below what every launcher decodes.
constexpr int kLongWindowLog = 27;
static_assert(kLongWindowLog <= static_cast<int>(pack_format::kWindowLogMade));

struct FREE_CCTX {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct CLOSE_FILE {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool Set(ZSTD_CCtx* c, ZSTD_cParameter p, int value, std::string* error)
{
    const size_t r = ZSTD_CCtx_setParameter(c, p, value);
    if (ZSTD_isError(r)) {
        *error = std::string("zstd refuses a parameter: ") + ZSTD_getErrorName(r);
        return false;
    }
    return true;
}

} // namespace

bool CanCompress()
{
    return true;
}

int MaxCompressionLevel()
{
    return ZSTD_maxCLevel();
}

bool CompressFile(const std::string& from, uint64_t size, const std::string& to, const ZSTD_OPTIONS& options,
                  uint32_t* crc, std::string* error)
{
    std::unique_ptr<std::FILE, CLOSE_FILE> in(std::fopen(from.c_str(), "rb"));
    if (!in) {
        *error = "cannot open " + from;
        return false;
    }
    std::unique_ptr<ZSTD_CCtx, FREE_CCTX> cctx(ZSTD_createCCtx());
    const unsigned threads = options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    if (!cctx || !Set(cctx.get(), ZSTD_c_compressionLevel, options.level, error) ||
        !Set(cctx.get(), ZSTD_c_contentSizeFlag, 1, error) || !Set(cctx.get(), ZSTD_c_checksumFlag, 0, error))
        return false;
    // Without thread support in the library, one thread does it all.
    ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_nbWorkers, static_cast<int>(threads));
    if (size >= kLongDistanceFrom &&
        (!Set(cctx.get(), ZSTD_c_enableLongDistanceMatching, 1, error) ||
         !Set(cctx.get(), ZSTD_c_windowLog, kLongWindowLog, error)))
        return false;
    ZSTD_CCtx_setPledgedSrcSize(cctx.get(), size);

    REPLACING_FILE out(to);
    if (!out.Create()) {
        *error = "cannot create " + out.TempPath();
        return false;
    }
    std::vector<unsigned char> inBuffer(ZSTD_CStreamInSize()), outBuffer(ZSTD_CStreamOutSize());
    uint32_t c = 0;
    uint64_t read = 0;
    for (bool last = false; !last;) {
        const size_t got = std::fread(inBuffer.data(), 1, inBuffer.size(), in.get());
        if (got < inBuffer.size() && std::ferror(in.get())) {
            *error = "cannot read " + from;
            return false;
        }
        read += got;
        last = got < inBuffer.size();
        if (read > size || (last && read != size)) {
            *error = from + " changed while it was compressed";
            return false;
        }
        c = Crc32(c, inBuffer.data(), got);
        ZSTD_inBuffer input{inBuffer.data(), got, 0};
        for (bool done = false; !done;) {
            ZSTD_outBuffer output{outBuffer.data(), outBuffer.size(), 0};
            const size_t left = ZSTD_compressStream2(cctx.get(), &output, &input, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left)) {
                *error = from + ": zstd: " + ZSTD_getErrorName(left);
                return false;
            }
            if (output.pos != 0 && !out.Write(outBuffer.data(), output.pos)) {
                *error = "cannot write " + out.TempPath();
                return false;
            }
            done = last ? left == 0 : input.pos == input.size;
        }
    }
    if (!out.Commit()) {
        *error = "cannot write or rename " + out.TempPath();
        return false;
    }
    *crc = c;
    return true;
}

#else

bool CanCompress()
{
    return false;
}

int MaxCompressionLevel()
{
    return 0;
}

bool CompressFile(const std::string&, uint64_t, const std::string&, const ZSTD_OPTIONS&, uint32_t*, std::string* error)
{
    *error = "this rxpack has no zstd compressor (rxpack compresses on Linux only)";
    return false;
}

#endif
