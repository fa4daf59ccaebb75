// A release directory, loaded and checked: what the server offers until the next reload.
//
//     release.conf                    versions (see release_conf.h), required
//     info.txt                        text shown by the launcher, optional (no NUL byte, <= 64 KiB)
//     Velgrim_patch.rxpack            the cumulative package, required (kind 1002): plain
//                                     entries, what every launcher that does not say its
//                                     version gets
//     Velgrim_patch.from-<V>.rxpack   optional, any number: the package from installed
//                                     version V (decimal, no leading zero, 0 < V < game_version)
//     Velgrim_patch.full.rxpack       optional: every file of the release, plain entries
//     Velgrim_patch.full.zstd.rxpack, Velgrim_patch.from-<V>.zstd.rxpack
//                                     optional variants with compressed entries (and the
//                                     plain one's removals), for launchers that ask for them
//     Velgrim_patch.from-<V>.delta.rxpack  optional: compressed and delta entries
//     UpdaterNew.exe                  the updater, required when updater_version >= 1024 (kind 1003)
//
// Every package must check as the launcher checks it; any other Velgrim_patch.*.rxpack
// name is refused. Files are served from disk (release_file.h), never held in memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "update_server/release_file.h"

struct RELEASE {
    static constexpr uint32_t kMaxInfoText = 64 * 1024;
    // The largest file a plain answer may announce: the client's buffer holds size + 1
    // bytes, counted in 32 bits. Larger ones go only in the package answer (64-bit).
    static constexpr uint64_t kMaxPlainSize = 0xFFFFFFFEu;

    std::string dir;
    uint32_t game_version = 0;
    uint32_t updater_version = 0;
    // release.conf's info_word, accepted for old configurations and not sent: the version
    // answer's first dword announces the server's extensions.
    uint32_t info_word = 0;
    std::string info_text; // without its zero byte
    std::shared_ptr<const RELEASE_FILE> patch; // the cumulative package
    std::shared_ptr<const RELEASE_FILE> full;  // null when none
    std::map<uint32_t, std::shared_ptr<const RELEASE_FILE>> from; // by installed version
    // The zstd and delta variants, by base (V or PACKAGE_BASE_FULL) and PACKAGE_FEATURE_ZSTD
    // or PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA.
    std::map<std::pair<uint32_t, uint32_t>, std::shared_ptr<const RELEASE_FILE>> variants;
    std::shared_ptr<const RELEASE_FILE> updater; // null when none is offered

    // The variant of that base and features, or null.
    std::shared_ptr<const RELEASE_FILE> Variant(uint32_t base, uint32_t features) const;
    // The file a plain or resuming request of a kind (1002, 1003) gets, or null.
    std::shared_ptr<const RELEASE_FILE> FileOfKind(int kind) const;
    // "game version 7, updater version 0 (none offered), patch 123 bytes, ..."
    std::string Describe() const;
};

// Loads and checks a release directory. On failure returns null with a message.
std::shared_ptr<const RELEASE> LoadRelease(const std::string& dir, std::string* error);
