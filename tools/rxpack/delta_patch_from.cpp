#include "delta_patch_from.h"

#include "delta/delta_format.h"
#include "zstd_stream_compress.h"

int PatchFromWindowLog(uint64_t baseSize, uint64_t targetSize)
{
    // The decoder refers back across the base and what it has made so far.
    int log = 10;
    while (log < delta_format::kMakerMaxWindowLog && (uint64_t{1} << log) < baseSize + targetSize)
        ++log;
    return log;
}

bool MakePatchFromPayload(const unsigned char* base, uint64_t baseSize, const unsigned char* target,
                          uint64_t targetSize, const DELTA_MAKE_OPTIONS& options, std::vector<unsigned char>* out,
                          std::string* reason)
{
    static const unsigned char kNothing = 0;
    return CompressFrame(target, static_cast<size_t>(targetSize), options, PatchFromWindowLog(baseSize, targetSize),
                         base != nullptr ? base : &kNothing, static_cast<size_t>(baseSize), out, reason);
}
