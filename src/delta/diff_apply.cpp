#include "delta/diff_apply.h"

#include <cstring>
#include <vector>

#include "delta/delta_format.h"
#include "delta/zstd_frame_reader.h"
#include "pack/pack_format.h"

namespace {

using namespace delta_format;
using pack_format::GetU32;

constexpr size_t kChunk = 256u << 10;

struct DIFF_HEADER {
    uint32_t baseSize, targetSize, triples, controlSize, diffSize, extraSize;
};

bool ReadHeader(DELTA_INPUT& input, uint64_t offset, uint64_t size, DIFF_HEADER* h, std::string* reason)
{
    unsigned char bytes[kDiffHeaderSize];
    if (size < kDiffHeaderSize || !input.ReadAt(offset, bytes, kDiffHeaderSize)) {
        *reason = "the difference's header is cut short";
        return false;
    }
    if (std::memcmp(bytes, kDiffMagic, sizeof(kDiffMagic)) != 0 || GetU32(bytes + kDiffReservedAt) != 0) {
        *reason = "the difference's header is not one";
        return false;
    }
    *h = {GetU32(bytes + kDiffBaseSizeAt),    GetU32(bytes + kDiffTargetSizeAt), GetU32(bytes + kDiffTriplesAt),
          GetU32(bytes + kDiffControlSizeAt), GetU32(bytes + kDiffDiffSizeAt),   GetU32(bytes + kDiffExtraSizeAt)};
    const uint64_t frames = uint64_t{h->controlSize} + h->diffSize + h->extraSize;
    if (frames != size - kDiffHeaderSize) {
        *reason = "the difference's streams do not fill it";
        return false;
    }
    if (uint64_t{h->triples} > h->targetSize) {
        *reason = "the difference has more steps than bytes";
        return false;
    }
    return true;
}

// Moves `count` bytes of a stream to out, each added to the base's byte when base is set.
bool Emit(ZSTD_FRAME_READER& stream, const unsigned char* base, uint64_t count, std::vector<unsigned char>& buffer,
          DELTA_OUTPUT& out, std::string* reason)
{
    while (count != 0) {
        const size_t take = count < buffer.size() ? static_cast<size_t>(count) : buffer.size();
        if (!stream.Read(buffer.data(), take, reason))
            return false;
        if (base != nullptr) {
            for (size_t i = 0; i < take; ++i)
                buffer[i] = static_cast<unsigned char>(buffer[i] + base[i]);
            base += take;
        }
        if (!out.Write(buffer.data(), take)) {
            *reason = "the file cannot be written";
            return false;
        }
        count -= take;
    }
    return true;
}

} // namespace

bool ApplyDiffPayload(const unsigned char* base, uint64_t baseSize, DELTA_INPUT& input, uint64_t offset,
                      uint64_t size, uint64_t targetSize, DELTA_OUTPUT& out, std::string* reason)
{
    DIFF_HEADER h;
    if (!ReadHeader(input, offset, size, &h, reason))
        return false;
    if (h.baseSize != baseSize || h.targetSize != targetSize) {
        *reason = "the difference is for files of other sizes";
        return false;
    }
    ZSTD_FRAME_READER control, diff, extra;
    const uint64_t controlAt = offset + kDiffHeaderSize;
    const uint64_t diffAt = controlAt + h.controlSize;
    const uint64_t extraAt = diffAt + h.diffSize;
    if (!control.Begin(&input, controlAt, h.controlSize, kDiffStreamWindowLog, nullptr, 0, reason) ||
        !diff.Begin(&input, diffAt, h.diffSize, kDiffStreamWindowLog, nullptr, 0, reason) ||
        !extra.Begin(&input, extraAt, h.extraSize, kDiffStreamWindowLog, nullptr, 0, reason))
        return false;
    std::vector<unsigned char> buffer(kChunk);
    uint64_t written = 0;
    uint64_t at = 0; // base position, always within [0, baseSize]
    for (uint32_t t = 0; t < h.triples; ++t) {
        unsigned char triple[kTripleSize];
        if (!control.Read(triple, kTripleSize, reason))
            return false;
        const int64_t seek = static_cast<int32_t>(GetU32(triple));
        const uint32_t add = GetU32(triple + 4);
        const uint32_t copy = GetU32(triple + 8);
        if (add == 0 && copy == 0) {
            *reason = "a step of the difference writes nothing";
            return false;
        }
        if ((seek < 0 && static_cast<uint64_t>(-seek) > at) || (seek > 0 && static_cast<uint64_t>(seek) > baseSize - at)) {
            *reason = "the difference seeks outside the base";
            return false;
        }
        at = static_cast<uint64_t>(static_cast<int64_t>(at) + seek);
        if (uint64_t{add} + copy > targetSize - written) {
            *reason = "the difference writes past the file's end";
            return false;
        }
        if (add > baseSize - at) {
            *reason = "the difference reads past the base's end";
            return false;
        }
        if (!Emit(diff, base + at, add, buffer, out, reason) || !Emit(extra, nullptr, copy, buffer, out, reason))
            return false;
        written += uint64_t{add} + copy;
        at += add;
    }
    if (written != targetSize) {
        *reason = "the difference makes fewer bytes than the file has";
        return false;
    }
    return control.Finish(reason) && diff.Finish(reason) && extra.Finish(reason);
}
