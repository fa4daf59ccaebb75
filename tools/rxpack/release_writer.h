// The files of one release, written from the store into a release directory (the layout
// update-server reads):
//
//     release.conf                    game_version, updater_version
//     info.txt                        when given
//     UpdaterNew.exe                  when updater_version >= 1024
//     Velgrim_patch.rxpack            the cumulative package (plain entries)
//     Velgrim_patch.from-<V>.rxpack   one per kept version (flagged when it removes files)
//     Velgrim_patch.full.rxpack       every file of the version (plain entries)
//     Velgrim_patch.full.zstd.rxpack  the same, each file compressed where that makes it smaller
//     Velgrim_patch.from-<V>.zstd.rxpack   the same of each from-<V> package
//     Velgrim_patch.from-<V>.delta.rxpack  the same, each changed file as a delta against V's
//                                          file where that is at most 0.8x its compressed size
// A variant is written only when at least one of its files came out smaller compressed (a
// delta variant: when at least one file is a delta).
#pragma once

#include <string>

#include "delta_make_options.h"
#include "release_plan.h"
#include "release_store.h"
#include "zstd_compress.h"

// A variant package written beside the plain ones.
struct PACKAGE_VARIANT {
    uint32_t base = 0;
    uint32_t features = 0; // PACKAGE_FEATURE_*
    std::string fileName;
    uint64_t bytes = 0;
};

// One package of the plan, from the store's contents, to path.
bool WritePackage(const RELEASE_STORE& store, const PACKAGE_PLAN& package, const std::string& path,
                  std::string* error);
// Everything above but the signed manifests into dir. infoPath empty: no info.txt.
// compress null: no compressed variants; else *variants lists the ones written. deltas null
// (or compress null): no delta variants.
bool WriteReleaseFiles(const RELEASE_STORE& store, const VERSION_LIST& next, const RELEASE_PLAN& plan,
                       const std::string& infoPath, const std::string& dir, const ZSTD_OPTIONS* compress,
                       std::vector<PACKAGE_VARIANT>* variants, std::string* error,
                       const DELTA_MAKE_OPTIONS* deltas = nullptr);
