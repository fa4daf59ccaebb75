// What a release writes, worked out from the file lists alone: a package from each kept
// version, the cumulative package and the full package, and the bytes of each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "version_list.h"

struct PACKAGE_PLAN {
    // The installed version it is made from, or PACKAGE_BASE_CUMULATIVE / PACKAGE_BASE_FULL.
    uint32_t base = 0;
    std::string fileName;
    // Whole files of the new version: new and changed ones (from a version); every entry of
    // the cumulative and full packages is in `added`.
    std::vector<const LISTED_FILE*> added;
    std::vector<const LISTED_FILE*> changed;
    // For each of `changed`, the kept version's file of that name (what a delta is made against).
    std::vector<const LISTED_FILE*> changedFrom;
    std::vector<std::string> removed;

    size_t Entries() const { return added.size() + changed.size() + removed.size(); }
    // The package's exact size as PACK_WRITER writes it.
    uint64_t Bytes() const;
};

struct RELEASE_PLAN {
    // From each kept version (oldest first), then the cumulative, then the full package.
    std::vector<PACKAGE_PLAN> packages;

    const PACKAGE_PLAN& Cumulative() const { return packages[packages.size() - 2]; }
    const PACKAGE_PLAN& Full() const { return packages.back(); }
};

// kept: the older versions that get a package of their own, oldest first. The cumulative
// package holds every file of `next` that differs from any kept version (every file when
// none is kept): applied whole, without removals, it brings any kept version to `next`.
RELEASE_PLAN PlanRelease(const VERSION_LIST& next, const std::vector<const VERSION_LIST*>& kept);

// What the plan cannot be, or "" when it is fine: a file an entry cannot hold (32-bit
// size), or a cumulative package the plain answer cannot carry (its size is one dword and
// the launcher's buffer holds size + 1 bytes). The from-version and full packages go only
// in the 64-bit package answer, and package offsets are 64-bit: they may pass 4 GiB.
std::string ReleaseLimitProblem(const VERSION_LIST& next, const RELEASE_PLAN& plan);

// The file a package has in the release directory: Velgrim_patch.rxpack (cumulative),
// Velgrim_patch.full.rxpack, Velgrim_patch.from-<V>.rxpack; a variant (features ZSTD, or
// ZSTD | DELTA) adds ".zstd" or ".delta" before ".rxpack".
std::string PackageFileName(uint32_t base, uint32_t features = 0);
