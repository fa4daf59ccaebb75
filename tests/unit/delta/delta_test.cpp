// Delta entries: both kinds made by rxpack's makers and applied by the launcher's code, the
// difference's bytes as documented, and every malformed payload refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <zstd.h>

#include "delta/delta_entry.h"
#include "delta/delta_format.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "platform/crypto.h"
#include "platform/mapped_file.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include "delta_diff.h"
#include "delta_patch_from.h"
#include "delta_pick.h"
#endif

using namespace pack_format;
using namespace delta_format;

namespace {

using BYTES = std::vector<unsigned char>;

BYTES Noise(size_t size, uint32_t seed)
{
    BYTES b(size);
    for (auto& c : b) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<unsigned char>(seed >> 16);
    }
    return b;
}

// Like a program's next build: a few bytes changed all over, a block inserted, one removed.
BYTES Edited(const BYTES& base)
{
    BYTES t = base;
    for (size_t i = 100; i < t.size(); i += 997)
        t[i] = static_cast<unsigned char>(t[i] + 1);
    const BYTES inserted = Noise(300, 7);
    t.insert(t.begin() + static_cast<long>(t.size() / 2), inserted.begin(), inserted.end());
    if (t.size() > 5000)
        t.erase(t.begin() + 1000, t.begin() + 1400);
    return t;
}

BYTES Hashes(const BYTES& base, const BYTES& target)
{
    BYTES h(kHashesSize);
    Sha256(base.data(), base.size(), h.data() + kBaseHashAt);
    Sha256(target.data(), target.size(), h.data() + kTargetHashAt);
    return h;
}

DELTA_ENTRY EntryFor(uint32_t kind, const BYTES& stored, const BYTES& target)
{
    DELTA_ENTRY e;
    e.kind = kind;
    e.storedSize = static_cast<uint32_t>(stored.size());
    e.decodedSize = static_cast<uint32_t>(target.size());
    e.decodedCrc = Crc32(0, target.data(), target.size());
    return e;
}

bool Apply(const BYTES& base, const BYTES& stored, const DELTA_ENTRY& entry, BYTES* out, std::string* reason)
{
    MEMORY_INPUT input(stored.data(), stored.size());
    BUFFER_OUTPUT sink;
    const bool ok = ApplyDeltaEntry(base.data(), base.size(), input, entry, sink, reason);
    *out = sink.bytes;
    return ok;
}

BYTES Frame(const BYTES& content)
{
    BYTES f(ZSTD_compressBound(content.size()));
    f.resize(ZSTD_compress(f.data(), f.size(), content.data(), content.size(), 3));
    return f;
}

// A frame header announcing a window of 2^log bytes, then one raw block of one byte.
BYTES FrameWithWindow(int log)
{
    return {0x28, 0xB5, 0x2F, 0xFD, 0x00, static_cast<unsigned char>((log - 10) << 3), 0x09, 0x00, 0x00, 'x'};
}

void Put(BYTES& b, size_t at, uint32_t v)
{
    PutU32(b.data() + at, v);
}

struct TRIPLE {
    int32_t seek;
    uint32_t add, copy;
};

// A kind-4 entry's stored bytes built by hand: header, then the three frames.
BYTES DiffStored(const BYTES& base, const BYTES& target, const std::vector<TRIPLE>& triples, const BYTES& diff,
                 const BYTES& extra)
{
    BYTES control;
    for (const TRIPLE& t : triples) {
        control.resize(control.size() + kTripleSize);
        Put(control, control.size() - 12, static_cast<uint32_t>(t.seek));
        Put(control, control.size() - 8, t.add);
        Put(control, control.size() - 4, t.copy);
    }
    const BYTES c = Frame(control), d = Frame(diff), x = Frame(extra);
    BYTES s = Hashes(base, target);
    BYTES h(kDiffHeaderSize, 0);
    std::memcpy(h.data(), kDiffMagic, 4);
    Put(h, kDiffBaseSizeAt, static_cast<uint32_t>(base.size()));
    Put(h, kDiffTargetSizeAt, static_cast<uint32_t>(target.size()));
    Put(h, kDiffTriplesAt, static_cast<uint32_t>(triples.size()));
    Put(h, kDiffControlSizeAt, static_cast<uint32_t>(c.size()));
    Put(h, kDiffDiffSizeAt, static_cast<uint32_t>(d.size()));
    Put(h, kDiffExtraSizeAt, static_cast<uint32_t>(x.size()));
    for (const BYTES* part : std::initializer_list<const BYTES*>{&h, &c, &d, &x})
        s.insert(s.end(), part->begin(), part->end());
    return s;
}

} // namespace

// base "0123456789", target "1234xy": seek 1, add 4 (diff bytes 0), copy "xy".
TEST(DeltaDiff, HandBuiltStreamApplies)
{
    const BYTES base = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const BYTES target = {'1', '2', '3', '4', 'x', 'y'};
    const BYTES stored = DiffStored(base, target, {{1, 4, 2}}, BYTES(4, 0), {'x', 'y'});
    BYTES out;
    std::string reason;
    ASSERT_TRUE(Apply(base, stored, EntryFor(kEntryKindDeltaDiff, stored, target), &out, &reason)) << reason;
    EXPECT_EQ(out, target);
}

TEST(DeltaDiff, MalformedRefused)
{
    const BYTES base = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const BYTES target = {'1', '2', '3', '4', 'x', 'y'};
    const BYTES good = DiffStored(base, target, {{1, 4, 2}}, BYTES(4, 0), {'x', 'y'});
    const size_t header = kHashesSize;
    const struct {
        const char* what;
        std::function<BYTES()> stored;
        uint32_t decodedSize;
        const char* expected;
    } cases[] = {
        {"seek before the base", [&] { return DiffStored(base, target, {{-1, 4, 2}}, BYTES(4, 0), {'x', 'y'}); }, 6, "seeks outside"},
        {"seek past the base", [&] { return DiffStored(base, target, {{11, 0, 6}}, {}, BYTES(6, 'x')); }, 6, "seeks outside"},
        {"add past the base's end", [&] { return DiffStored(base, target, {{8, 4, 2}}, BYTES(4, 0), {'x', 'y'}); }, 6, "past the base's end"},
        {"writes past the file", [&] { return DiffStored(base, target, {{1, 4, 3}}, BYTES(4, 0), {'x', 'y', 'z'}); }, 6, "past the file's end"},
        {"an empty step", [&] { return DiffStored(base, target, {{1, 0, 0}, {0, 4, 2}}, BYTES(4, 0), {'x', 'y'}); }, 6, "writes nothing"},
        {"a diff stream short of its adds", [&] { return DiffStored(base, target, {{1, 4, 2}}, BYTES(3, 0), {'x', 'y'}); }, 6, "ends before"},
        {"an extra stream longer than its copies", [&] { return DiffStored(base, target, {{1, 4, 2}}, BYTES(4, 0), {'x', 'y', 'z'}); }, 6, "more than"},
        {"cut short", [&] { BYTES b = good; b.pop_back(); return b; }, 6, "fill"},
        {"a byte more", [&] { BYTES b = good; b.push_back(0); return b; }, 6, "fill"},
        {"not the magic", [&] { BYTES b = good; b[header] = 'X'; return b; }, 6, "not one"},
        {"reserved not zero", [&] { BYTES b = good; b[header + kDiffReservedAt] = 1; return b; }, 6, "not one"},
        {"another decoded size", [&] { return good; }, 7, "other sizes"},
        {"a stream's window above its limit",
         [&] { BYTES b = good; const BYTES w = FrameWithWindow(kDiffStreamWindowLog + 1);
               BYTES s(b.begin(), b.begin() + header + kDiffHeaderSize);
               const uint32_t c = GetU32(&b[header + kDiffControlSizeAt]);
               Put(s, header + kDiffDiffSizeAt, static_cast<uint32_t>(w.size()));
               s.insert(s.end(), b.begin() + static_cast<long>(header + kDiffHeaderSize), b.begin() + static_cast<long>(header + kDiffHeaderSize + c));
               s.insert(s.end(), w.begin(), w.end());
               s.insert(s.end(), b.end() - static_cast<long>(GetU32(&b[header + kDiffExtraSizeAt])), b.end());
               return s; }, 6, "window"},
        {"another base", [&] { BYTES b = good; b[kBaseHashAt] ^= 1; return b; }, 6, "not the one the delta was made from"},
        {"another target", [&] { BYTES b = good; b[kTargetHashAt] ^= 1; return b; }, 6, "not the one the delta names"},
    };
    for (const auto& c : cases) {
        const BYTES stored = c.stored();
        DELTA_ENTRY entry = EntryFor(kEntryKindDeltaDiff, stored, target);
        entry.decodedSize = c.decodedSize;
        BYTES out;
        std::string reason;
        EXPECT_FALSE(Apply(base, stored, entry, &out, &reason)) << c.what;
        EXPECT_NE(reason.find(c.expected), std::string::npos) << c.what << ": " << reason;
    }
}

TEST(DeltaPatchFrom, MalformedRefused)
{
    const BYTES base = Noise(5000, 1);
    const BYTES target = Edited(base);
    BYTES noSize(ZSTD_compressBound(target.size()) + 1);
    {
        ZSTD_CCtx* c = ZSTD_createCCtx();
        ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
        ZSTD_CCtx_refPrefix(c, base.data(), base.size());
        noSize.resize(ZSTD_compress2(c, noSize.data(), noSize.size(), target.data(), target.size()));
        ZSTD_freeCCtx(c);
    }
    const struct {
        const char* what;
        BYTES payload;
        int64_t sizeChange;
        const char* expected;
    } cases[] = {
        {"window above the limit", FrameWithWindow(kMaxWindowLog + 1), 0, "window"},
        {"no recorded size, decodes to more", noSize, -1, "more than"},
        {"no recorded size, decodes to less", noSize, +1, "less than"},
        {"a frame of another content", Frame(BYTES(target.size(), 'z')), 0, "CRC"},
        {"bytes after the frame", [&] { BYTES b = noSize; b.push_back(0); return b; }(), 0, "follow the frame"},
        {"cut short", BYTES(noSize.begin(), noSize.end() - 3), 0, "cut short"},
    };
    for (const auto& c : cases) {
        BYTES stored = Hashes(base, target);
        stored.insert(stored.end(), c.payload.begin(), c.payload.end());
        DELTA_ENTRY entry = EntryFor(kEntryKindDeltaZstd, stored, target);
        entry.decodedSize = static_cast<uint32_t>(entry.decodedSize + c.sizeChange);
        BYTES out;
        std::string reason;
        EXPECT_FALSE(Apply(base, stored, entry, &out, &reason)) << c.what;
        EXPECT_NE(reason.find(c.expected), std::string::npos) << c.what << ": " << reason;
    }
}

TEST(MappedFile, MapsWholeFilesOnly)
{
    TEMP_DIR dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a", "alpha") && WriteWholeFile(dir / "empty", ""));
    MAPPED_FILE map;
    std::string reason;
    ASSERT_TRUE(map.Open((dir / "a").c_str(), &reason)) << reason;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(map.Data()), map.Size()), "alpha");
    ASSERT_TRUE(map.Open((dir / "empty").c_str(), &reason)) << reason;
    EXPECT_EQ(map.Size(), 0u);
    EXPECT_FALSE(map.Open((dir / "missing").c_str(), &reason));
    EXPECT_NE(reason.find("missing"), std::string::npos) << reason;
    EXPECT_FALSE(map.Open(dir.Path().c_str(), &reason));
}

#ifndef _WIN32
TEST(DeltaMakers, RoundTripBothKinds)
{
    const BYTES big = Noise(200000, 3);
    const struct {
        const char* what;
        BYTES base, target;
    } pairs[] = {
        {"edited", big, Edited(big)},
        {"same", big, big},
        {"empty base", {}, Noise(3000, 4)},
        {"empty target", Noise(3000, 5), {}},
        {"unrelated", Noise(4000, 6), Noise(5000, 8)},
        {"repetitive", BYTES(50000, 0), BYTES(60000, 0)},
    };
    DELTA_MAKE_OPTIONS options;
    options.level = 3;
    for (const auto& p : pairs) {
        for (const uint32_t kind : {kEntryKindDeltaDiff, kEntryKindDeltaZstd}) {
            BYTES stored = Hashes(p.base, p.target);
            std::string reason;
            const bool made = kind == kEntryKindDeltaDiff
                                  ? MakeDiffPayload(p.base.data(), p.base.size(), p.target.data(), p.target.size(), options, &stored, &reason)
                                  : MakePatchFromPayload(p.base.data(), p.base.size(), p.target.data(), p.target.size(), options, &stored, &reason);
            ASSERT_TRUE(made) << p.what << ": " << reason;
            BYTES out;
            EXPECT_TRUE(Apply(p.base, stored, EntryFor(kind, stored, p.target), &out, &reason)) << p.what << kind << ": " << reason;
            EXPECT_EQ(out, p.target) << p.what << " kind " << kind;
            if (std::string(p.what) == "edited") {
                EXPECT_LT(stored.size(), p.target.size() / 20) << "kind " << kind;
            }
        }
    }
}

// The difference's header and control stream, byte for byte: an unchanged file is one step.
TEST(DeltaMakers, DifferenceBytes)
{
    const BYTES base = Noise(10000, 9);
    BYTES stored;
    std::string reason;
    ASSERT_TRUE(MakeDiffPayload(base.data(), base.size(), base.data(), base.size(), {}, &stored, &reason)) << reason;
    ASSERT_GE(stored.size(), kDiffHeaderSize);
    EXPECT_EQ(std::memcmp(stored.data(), "VGDF", 4), 0);
    EXPECT_EQ(GetU32(&stored[4]), 10000u);
    EXPECT_EQ(GetU32(&stored[8]), 10000u);
    EXPECT_EQ(GetU32(&stored[12]), 1u);
    const uint32_t control = GetU32(&stored[16]), diff = GetU32(&stored[20]), extra = GetU32(&stored[24]);
    EXPECT_EQ(GetU32(&stored[28]), 0u);
    EXPECT_EQ(kDiffHeaderSize + control + diff + extra, stored.size());
    BYTES triple(12);
    ASSERT_EQ(ZSTD_decompress(triple.data(), triple.size(), &stored[32], control), 12u);
    EXPECT_EQ(triple, (BYTES{0, 0, 0, 0, 0x10, 0x27, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ZSTD_getFrameContentSize(&stored[32 + control], diff), 10000u);
    EXPECT_EQ(ZSTD_getFrameContentSize(&stored[32 + control + diff], extra), 0u);
}

TEST(DeltaMakers, PickKeepsOnlyWhatIsWorthIt)
{
    const BYTES base = Noise(100000, 10);
    const BYTES target = Edited(base);
    DELTA_MAKE_OPTIONS options;
    options.level = 3;
    const struct {
        const char* what;
        uint64_t wholeSize;
        std::chrono::steady_clock::time_point deadline;
        bool kept;
    } cases[] = {
        {"worth it", target.size(), std::chrono::steady_clock::time_point::max(), true},
        {"not below 0.8x the whole", 100, std::chrono::steady_clock::time_point::max(), false},
        {"out of time", target.size(), std::chrono::steady_clock::now(), false},
    };
    for (const auto& c : cases) {
        options.deadline = c.deadline;
        DELTA_PICK pick;
        std::vector<std::string> warnings;
        PickDelta(base.data(), base.size(), target.data(), target.size(), c.wholeSize, options, &pick, &warnings);
        EXPECT_EQ(pick.kind != 0, c.kept) << c.what;
        EXPECT_TRUE(warnings.empty()) << c.what;
        if (pick.kind != 0) {
            BYTES out;
            std::string reason;
            EXPECT_TRUE(Apply(base, pick.stored, EntryFor(pick.kind, pick.stored, target), &out, &reason)) << reason;
            EXPECT_EQ(out, target);
        }
    }
}
#endif
