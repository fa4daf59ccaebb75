#include "delta/patch_from_apply.h"

#include <vector>
#include <zstd.h>

#include "delta/delta_format.h"
#include "delta/zstd_frame_reader.h"

namespace {

constexpr size_t kChunk = 256u << 10;
// The longest frame header: magic, descriptor, window, dictionary ID, content size.
constexpr uint32_t kFrameHeaderMax = 18;

// The frame header states its content size: one that says otherwise is refused before a
// byte is decoded (and before its window is allocated).
bool SizeAsRecorded(DELTA_INPUT& input, uint64_t offset, uint64_t size, uint64_t targetSize, std::string* reason)
{
    unsigned char head[kFrameHeaderMax];
    const uint32_t take = size < sizeof(head) ? static_cast<uint32_t>(size) : sizeof(head);
    if (!input.ReadAt(offset, head, take)) {
        *reason = "the package cannot be read";
        return false;
    }
    // A header it cannot read is left to the decoder, which says what is wrong with it.
    const unsigned long long recorded = ZSTD_getFrameContentSize(head, take);
    if (recorded != ZSTD_CONTENTSIZE_ERROR && recorded != ZSTD_CONTENTSIZE_UNKNOWN && recorded != targetSize) {
        *reason = "the frame decodes to another size than the file's";
        return false;
    }
    return true;
}

} // namespace

bool ApplyPatchFromPayload(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, uint64_t offset,
                           uint64_t size, uint64_t targetSize, DELTA_OUTPUT& out, std::string* reason)
{
    if (!SizeAsRecorded(input, offset, size, targetSize, reason))
        return false;
    ZSTD_FRAME_READER frame;
    // An empty base is no prefix (zstd takes a null prefix as none).
    static const unsigned char kNothing = 0;
    if (!frame.Begin(&input, offset, size, delta_format::kMaxWindowLog, base != nullptr ? base : &kNothing,
                     static_cast<size_t>(baseSize), reason))
        return false;
    std::vector<unsigned char> buffer(kChunk);
    uint64_t written = 0;
    for (;;) {
        size_t got = 0;
        if (!frame.ReadSome(buffer.data(), buffer.size(), &got, reason))
            return false;
        if (got == 0)
            break;
        if (got > targetSize - written) {
            *reason = "the frame decodes to more than the file's size";
            return false;
        }
        if (!out.Write(buffer.data(), got)) {
            *reason = "the file cannot be written";
            return false;
        }
        written += got;
    }
    if (written != targetSize) {
        *reason = "the frame decodes to less than the file's size";
        return false;
    }
    return frame.Finish(reason);
}
