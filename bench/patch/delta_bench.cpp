// delta_bench OLD_DIR NEW_DIR [LEVEL]: for every file of NEW_DIR that differs from the file
// of that name in OLD_DIR, the compressed whole file, the patch-from delta and the
// difference, each with its time, and the time to apply the kept delta. One line a file,
// then the totals; sizes in bytes, times in CPU seconds of the process (every thread: on a
// shared machine the wall clock says more about the neighbours than about us).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "delta/delta_entry.h"
#include "delta_diff.h"
#include "delta_patch_from.h"
#include "pack/crc32.h"
#include "pack/pack_format.h"
#include "platform/crypto.h"
#include "platform/mapped_file.h"
#include "zstd_stream_compress.h"

namespace fs = std::filesystem;

namespace {

double Since(std::clock_t start)
{
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

class NULL_OUTPUT : public DELTA_OUTPUT {
public:
    bool Write(const void*, size_t) override { return true; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: delta_bench OLD_DIR NEW_DIR [LEVEL]\n");
        return 2;
    }
    DELTA_MAKE_OPTIONS options;
    options.level = argc > 3 ? std::atoi(argv[3]) : 19;
    options.threads = 2;
    uint64_t totalTarget = 0, totalBase = 0, totalWhole = 0, totalFrom = 0, totalDiff = 0, totalKept = 0;
    double tWhole = 0, tFrom = 0, tDiff = 0, tApply = 0;
    std::printf("%-60s %10s %10s %10s %10s %7s %7s %7s %7s\n", "file", "size", "zstd", "patchfrom", "diff", "t_zstd",
                "t_from", "t_diff", "t_apply");
    for (const auto& item : fs::recursive_directory_iterator(argv[2])) {
        if (!item.is_regular_file() || item.is_symlink())
            continue;
        const std::string rel = fs::relative(item.path(), argv[2]).string();
        const fs::path old = fs::path(argv[1]) / rel;
        std::error_code ec;
        if (!fs::is_regular_file(old, ec) || fs::is_symlink(old, ec))
            continue;
        MAPPED_FILE base, target;
        std::string reason;
        if (!base.Open(old.c_str(), &reason) || !target.Open(item.path().c_str(), &reason))
            continue;
        if (base.Size() == target.Size() && (base.Size() == 0 || std::memcmp(base.Data(), target.Data(), base.Size()) == 0))
            continue;
        std::clock_t start = std::clock();
        std::vector<unsigned char> whole;
        CompressFrame(target.Data(), target.Size(), options, 0, nullptr, 0, &whole, &reason);
        const double w = Since(start);
        std::vector<unsigned char> hashes(64);
        Sha256(base.Data(), base.Size(), hashes.data());
        Sha256(target.Data(), target.Size(), hashes.data() + 32);
        std::vector<unsigned char> from = hashes, diff = hashes;
        start = std::clock();
        MakePatchFromPayload(base.Data(), base.Size(), target.Data(), target.Size(), options, &from, &reason);
        const double f = Since(start);
        start = std::clock();
        MakeDiffPayload(base.Data(), base.Size(), target.Data(), target.Size(), options, &diff, &reason);
        const double d = Since(start);
        const bool diffKept = diff.size() <= from.size();
        const std::vector<unsigned char>& kept = diffKept ? diff : from;
        MEMORY_INPUT input(kept.data(), kept.size());
        DELTA_ENTRY entry;
        entry.kind = diffKept ? pack_format::kEntryKindDeltaDiff : pack_format::kEntryKindDeltaZstd;
        entry.storedSize = static_cast<uint32_t>(kept.size());
        entry.decodedSize = static_cast<uint32_t>(target.Size());
        entry.decodedCrc = Crc32(0, target.Data(), target.Size());
        NULL_OUTPUT out;
        start = std::clock();
        const bool applied = ApplyDeltaEntry(base.Data(), base.Size(), input, entry, out, &reason);
        const double a = Since(start);
        std::printf("%-60s %10llu %10zu %10zu %10zu %7.2f %7.2f %7.2f %7.3f%s\n", rel.substr(0, 60).c_str(),
                    static_cast<unsigned long long>(target.Size()), whole.size(), from.size(), diff.size(), w, f, d, a,
                    applied ? "" : " NOT REPRODUCED");
        totalTarget += target.Size();
        totalBase += base.Size();
        totalWhole += whole.size();
        totalFrom += from.size();
        totalDiff += diff.size();
        const uint64_t best = std::min<uint64_t>(whole.size(), kept.size() * 5 <= whole.size() * 4 ? kept.size() : whole.size());
        totalKept += best;
        tWhole += w;
        tFrom += f;
        tDiff += d;
        tApply += a;
    }
    const double gib = static_cast<double>(totalTarget) / (1u << 30);
    std::printf("total: changed %llu bytes (base %llu); zstd %llu (%.1f s), patch-from %llu (%.1f s), difference "
                "%llu (%.1f s), kept per file %llu; apply %.2f s\n",
                static_cast<unsigned long long>(totalTarget), static_cast<unsigned long long>(totalBase),
                static_cast<unsigned long long>(totalWhole), tWhole, static_cast<unsigned long long>(totalFrom), tFrom,
                static_cast<unsigned long long>(totalDiff), tDiff, static_cast<unsigned long long>(totalKept), tApply);
    if (gib > 0)
        std::printf("per GiB of changed files: patch-from %.0f s, difference %.0f s, both %.0f s\n", tFrom / gib,
                    tDiff / gib, (tFrom + tDiff) / gib);
    return 0;
}
