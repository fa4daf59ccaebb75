// The files of one release, written from the store into a release directory (the layout
// update-server reads):
//
//     release.conf                    game_version, updater_version
//     info.txt                        when given
//     UpdaterNew.exe                  when updater_version >= 1024
//     Velgrim_patch.rxpack            the cumulative package (plain entries)
//     Velgrim_patch.from-<V>.rxpack   one per kept version (flagged when it removes files)
//     Velgrim_patch.full.rxpack       every file of the version (plain entries)
#pragma once

#include <string>

#include "release_plan.h"
#include "release_store.h"

// One package of the plan, from the store's contents, to path.
bool WritePackage(const RELEASE_STORE& store, const PACKAGE_PLAN& package, const std::string& path,
                  std::string* error);
// Everything above but the signed manifests into dir. infoPath empty: no info.txt.
bool WriteReleaseFiles(const RELEASE_STORE& store, const VERSION_LIST& next, const RELEASE_PLAN& plan,
                       const std::string& infoPath, const std::string& dir, std::string* error);
