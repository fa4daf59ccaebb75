// Delta entries of a package (kinds 3 and 4). Their stored bytes, little-endian:
//
//    0  32  SHA-256 of the base: the installed file of the entry's name
//   32  32  SHA-256 of the target: the file the entry decodes to
//   64   .. payload
//
// Kind 3 payload: one zstd frame compressed with the whole base as its prefix ("patch
// from"); nothing after it. Its window must not exceed kMaxWindowLog.
//
// Kind 4 payload, a suffix-sorting difference: a 32-byte header, then three zstd frames
// back to back that fill the rest exactly:
//
//    0   4  magic "VGDF"
//    4   4  u32 base size
//    8   4  u32 target size
//   12   4  u32 control triples
//   16   4  u32 control frame size (stored bytes)
//   20   4  u32 diff frame size
//   24   4  u32 extra frame size
//   28   4  u32 0 (reserved)
//   32   ..  control frame, diff frame, extra frame
//
// The control stream decodes to `triples` triples of 12 bytes: i32 seek, u32 add, u32 copy.
// Starting at base position 0, each triple moves the base position by `seek` (it stays
// within 0..base size), writes `add` bytes, each the sum (mod 256) of the next diff byte and
// the base byte at the base position (both advance), then the next `copy` bytes of the
// extra stream. A triple writes at least one byte, and every base byte read lies inside the
// base. The diff and
// extra streams decode to exactly the sums of the adds and of the copies.
#pragma once

#include <cstdint>

#include "pack/pack_format.h"

namespace delta_format {

constexpr uint32_t kHashesSize = 64;
constexpr uint32_t kBaseHashAt = 0;
constexpr uint32_t kTargetHashAt = 32;

constexpr char kDiffMagic[4] = {'V', 'G', 'D', 'F'};
constexpr uint32_t kDiffHeaderSize = 32;
constexpr uint32_t kDiffBaseSizeAt = 4;
constexpr uint32_t kDiffTargetSizeAt = 8;
constexpr uint32_t kDiffTriplesAt = 12;
constexpr uint32_t kDiffControlSizeAt = 16;
constexpr uint32_t kDiffDiffSizeAt = 20;
constexpr uint32_t kDiffExtraSizeAt = 24;
constexpr uint32_t kDiffReservedAt = 28;
constexpr uint32_t kTripleSize = 12;

// The largest window a patch-from frame may ask: it must cover base and target, which
// must fit this program's address space beside everything else.
constexpr int kMaxWindowLog = static_cast<int>(pack_format::kWindowLogMax);
// What rxpack makes: within the limit of every launcher.
constexpr int kMakerMaxWindowLog = static_cast<int>(pack_format::kWindowLogMade);
// The three streams of a difference are ordinary frames of modest windows.
constexpr int kDiffStreamWindowLog = 25;
// The largest base + target a delta is made for (both are mapped when it is applied).
constexpr uint64_t kMaxDeltaSpan = 768ull << 20;

} // namespace delta_format
