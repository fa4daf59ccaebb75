#include "delta_diff.h"

#include <cstring>
#include <divsufsort.h>

#include "delta/delta_format.h"
#include "pack/pack_format.h"
#include "zstd_stream_compress.h"

namespace {

using namespace delta_format;

struct FILES {
    const unsigned char* base;
    int64_t baseSize;
    const unsigned char* target;
    int64_t targetSize;
    const saidx_t* sa;
};

int64_t MatchLength(const unsigned char* a, int64_t aSize, const unsigned char* b, int64_t bSize)
{
    int64_t i = 0;
    while (i < aSize && i < bSize && a[i] == b[i])
        ++i;
    return i;
}

// The longest match of target[at..] in the base, by binary search over its suffixes.
int64_t Search(const FILES& f, int64_t at, int64_t* pos)
{
    const unsigned char* t = f.target + at;
    const int64_t tSize = f.targetSize - at;
    int64_t lo = 0, hi = f.baseSize - 1;
    while (hi - lo >= 2) {
        const int64_t mid = lo + (hi - lo) / 2;
        const int64_t s = f.sa[mid];
        const int64_t n = f.baseSize - s < tSize ? f.baseSize - s : tSize;
        if (std::memcmp(f.base + s, t, static_cast<size_t>(n)) < 0)
            lo = mid;
        else
            hi = mid;
    }
    const int64_t x = MatchLength(f.base + f.sa[lo], f.baseSize - f.sa[lo], t, tSize);
    const int64_t y = MatchLength(f.base + f.sa[hi], f.baseSize - f.sa[hi], t, tSize);
    *pos = x >= y ? f.sa[lo] : f.sa[hi];
    return x >= y ? x : y;
}

struct STREAMS {
    std::vector<unsigned char> control, diff, extra;
    uint32_t triples = 0;
    int64_t basePos = 0; // where the applier's base position is after the last triple
};

// One step: from base position `from`, `add` bytes against the base, then `copy` bytes of
// the target as they are. A step that writes nothing only moves the next one's start.
void AddStep(const FILES& f, STREAMS& s, int64_t from, int64_t targetAt, int64_t add, int64_t copy)
{
    if (add == 0 && copy == 0)
        return;
    unsigned char triple[kTripleSize];
    pack_format::PutU32(triple, static_cast<uint32_t>(static_cast<int32_t>(from - s.basePos)));
    pack_format::PutU32(triple + 4, static_cast<uint32_t>(add));
    pack_format::PutU32(triple + 8, static_cast<uint32_t>(copy));
    s.control.insert(s.control.end(), triple, triple + kTripleSize);
    for (int64_t i = 0; i < add; ++i)
        s.diff.push_back(static_cast<unsigned char>(f.target[targetAt + i] - f.base[from + i]));
    s.extra.insert(s.extra.end(), f.target + targetAt + add, f.target + targetAt + add + copy);
    s.basePos = from + add;
    ++s.triples;
}

// bsdiff's scan: extends approximate matches forwards and backwards around exact ones.
bool Scan(const FILES& f, STREAMS& s, const DELTA_MAKE_OPTIONS& options)
{
    int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    uint32_t ticks = 0;
    while (scan < f.targetSize) {
        int64_t oldScore = 0;
        for (int64_t scsc = scan += len; scan < f.targetSize; ++scan) {
            if (++ticks % 4096 == 0 && std::chrono::steady_clock::now() > options.deadline)
                return false;
            len = f.baseSize > 0 ? Search(f, scan, &pos) : 0;
            for (; scsc < scan + len; ++scsc)
                if (scsc + lastOffset < f.baseSize && f.base[scsc + lastOffset] == f.target[scsc])
                    ++oldScore;
            if ((len == oldScore && len != 0) || len > oldScore + 8)
                break;
            if (scan + lastOffset < f.baseSize && f.base[scan + lastOffset] == f.target[scan])
                --oldScore;
        }
        if (len == oldScore && scan != f.targetSize)
            continue;
        int64_t lenF = 0;
        for (int64_t i = 0, score = 0, best = 0; lastScan + i < scan && lastPos + i < f.baseSize;) {
            if (f.base[lastPos + i] == f.target[lastScan + i])
                ++score;
            ++i;
            if (score * 2 - i > best * 2 - lenF) {
                best = score;
                lenF = i;
            }
        }
        int64_t lenB = 0;
        if (scan < f.targetSize) {
            for (int64_t i = 1, score = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                if (f.base[pos - i] == f.target[scan - i])
                    ++score;
                if (score * 2 - i > best * 2 - lenB) {
                    best = score;
                    lenB = i;
                }
            }
        }
        if (lastScan + lenF > scan - lenB) {
            const int64_t overlap = (lastScan + lenF) - (scan - lenB);
            int64_t score = 0, best = 0, lenS = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (f.target[lastScan + lenF - overlap + i] == f.base[lastPos + lenF - overlap + i])
                    ++score;
                if (f.target[scan - lenB + i] == f.base[pos - lenB + i])
                    --score;
                if (score > best) {
                    best = score;
                    lenS = i + 1;
                }
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }
        AddStep(f, s, lastPos, lastScan, lenF, (scan - lenB) - (lastScan + lenF));
        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
    return true;
}

} // namespace

bool MakeDiffPayload(const unsigned char* base, uint64_t baseSize, const unsigned char* target, uint64_t targetSize,
                     const DELTA_MAKE_OPTIONS& options, std::vector<unsigned char>* out, std::string* reason)
{
    // The suffix array's indices and the format's seeks are 32-bit.
    if (baseSize >= (uint64_t{1} << 31) || targetSize >= (uint64_t{1} << 31)) {
        *reason = "too large for a difference";
        return false;
    }
    std::vector<saidx_t> sa(baseSize != 0 ? static_cast<size_t>(baseSize) : 1);
    if (baseSize != 0 && divsufsort(base, sa.data(), static_cast<saidx_t>(baseSize)) != 0) {
        *reason = "the suffix sort failed";
        return false;
    }
    const FILES f = {base, static_cast<int64_t>(baseSize), target, static_cast<int64_t>(targetSize), sa.data()};
    STREAMS s;
    if (!Scan(f, s, options)) {
        *reason = "the time for deltas ran out";
        return false;
    }
    sa = {};
    std::vector<unsigned char> frames;
    if (!CompressFrame(s.control.data(), s.control.size(), options, kDiffStreamWindowLog, nullptr, 0, &frames, reason))
        return false;
    const size_t controlSize = frames.size();
    if (!CompressFrame(s.diff.data(), s.diff.size(), options, kDiffStreamWindowLog, nullptr, 0, &frames, reason))
        return false;
    const size_t diffSize = frames.size() - controlSize;
    if (!CompressFrame(s.extra.data(), s.extra.size(), options, kDiffStreamWindowLog, nullptr, 0, &frames, reason))
        return false;
    const size_t extraSize = frames.size() - controlSize - diffSize;
    unsigned char header[kDiffHeaderSize] = {};
    std::memcpy(header, kDiffMagic, sizeof(kDiffMagic));
    pack_format::PutU32(header + kDiffBaseSizeAt, static_cast<uint32_t>(baseSize));
    pack_format::PutU32(header + kDiffTargetSizeAt, static_cast<uint32_t>(targetSize));
    pack_format::PutU32(header + kDiffTriplesAt, s.triples);
    pack_format::PutU32(header + kDiffControlSizeAt, static_cast<uint32_t>(controlSize));
    pack_format::PutU32(header + kDiffDiffSizeAt, static_cast<uint32_t>(diffSize));
    pack_format::PutU32(header + kDiffExtraSizeAt, static_cast<uint32_t>(extraSize));
    out->insert(out->end(), header, header + kDiffHeaderSize);
    out->insert(out->end(), frames.begin(), frames.end());
    return true;
}
