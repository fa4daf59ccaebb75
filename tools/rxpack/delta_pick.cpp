#include "delta_pick.h"

#include <cstring>

#include "delta/delta_entry.h"
#include "delta/delta_format.h"
#include "delta_diff.h"
#include "delta_patch_from.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "platform/crypto.h"

#ifndef _WIN32
namespace {

class NULL_OUTPUT : public DELTA_OUTPUT {
public:
    bool Write(const void*, size_t) override { return true; }
};

bool Reproduces(const unsigned char* base, uint64_t baseSize, uint64_t targetSize, uint32_t targetCrc,
                uint32_t kind, const std::vector<unsigned char>& stored, std::string* reason)
{
    MEMORY_INPUT input(stored.data(), stored.size());
    DELTA_ENTRY entry;
    entry.kind = kind;
    entry.storedSize = static_cast<uint32_t>(stored.size());
    entry.decodedSize = static_cast<uint32_t>(targetSize);
    entry.decodedCrc = targetCrc;
    NULL_OUTPUT out;
    return ApplyDeltaEntry(base, baseSize, input, entry, out, reason);
}

} // namespace
#endif

bool CanMakeDeltas()
{
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

#ifdef _WIN32
void PickDelta(const unsigned char*, uint64_t, const unsigned char*, uint64_t, uint64_t, const DELTA_MAKE_OPTIONS&,
               DELTA_PICK* pick, std::vector<std::string>*)
{
    *pick = {};
}
#else
void PickDelta(const unsigned char* base, uint64_t baseSize, const unsigned char* target, uint64_t targetSize,
               uint64_t wholeSize, const DELTA_MAKE_OPTIONS& options, DELTA_PICK* pick,
               std::vector<std::string>* warnings)
{
    *pick = {};
    if (baseSize + targetSize > delta_format::kMaxDeltaSpan || targetSize > UINT32_MAX)
        return;
    unsigned char hashes[delta_format::kHashesSize];
    if (!Sha256(base, static_cast<size_t>(baseSize), hashes + delta_format::kBaseHashAt) ||
        !Sha256(target, static_cast<size_t>(targetSize), hashes + delta_format::kTargetHashAt))
        return;
    const uint32_t targetCrc = Crc32(0, target, static_cast<size_t>(targetSize));
    // Worth it only at 0.8x the whole file compressed, or below.
    const uint64_t limit = wholeSize * 4 / 5;
    const uint32_t kinds[] = {pack_format::kEntryKindDeltaDiff, pack_format::kEntryKindDeltaZstd};
    for (const uint32_t kind : kinds) {
        if (std::chrono::steady_clock::now() > options.deadline)
            break;
        std::vector<unsigned char> stored(hashes, hashes + sizeof(hashes));
        std::string reason;
        const bool made = kind == pack_format::kEntryKindDeltaDiff
                              ? MakeDiffPayload(base, baseSize, target, targetSize, options, &stored, &reason)
                              : MakePatchFromPayload(base, baseSize, target, targetSize, options, &stored, &reason);
        if (!made || stored.size() > limit || stored.size() > UINT32_MAX ||
            (pick->kind != 0 && stored.size() >= pick->stored.size()))
            continue;
        if (!Reproduces(base, baseSize, targetSize, targetCrc, kind, stored, &reason)) {
            warnings->push_back(std::string(kind == pack_format::kEntryKindDeltaDiff ? "difference" : "patch-from") +
                                " delta dropped: it does not reproduce its file (" + reason + ")");
            continue;
        }
        pick->kind = kind;
        pick->stored = std::move(stored);
    }
}
#endif
