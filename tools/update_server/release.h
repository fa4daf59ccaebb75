// A release directory, loaded whole: what the server offers until the next reload.
//
//     release.conf           versions (see release_conf.h), required
//     info.txt               text shown by the launcher, optional (no NUL byte, <= 64 KiB)
//     Velgrim_patch.rxpack   the patch, required (kind 1002); it must check as a package
//     UpdaterNew.exe         the updater, required when updater_version >= 1024 (kind 1003)
//
// Files are read into memory once and shared by every transfer that sends them; a
// transfer keeps the file it started with across a reload.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The contents of one file offered for download, and the name it is sent under.
struct RELEASE_FILE {
    std::string name;
    std::unique_ptr<char[]> bytes;
    uint32_t size = 0;
    // What a client that goes on with a part of it must hold (ResumeTagOfDigest).
    uint32_t tag = 0;
};

struct RELEASE {
    static constexpr uint32_t kMaxInfoText = 64 * 1024;
    // The client's buffer holds size + 1 bytes, counted in 32 bits.
    static constexpr uint32_t kMaxFileSize = 0xFFFFFFFEu;

    std::string dir;
    uint32_t game_version = 0;
    uint32_t updater_version = 0;
    uint32_t info_word = 0;
    std::string info_text; // without its zero byte
    std::shared_ptr<const RELEASE_FILE> patch;
    std::shared_ptr<const RELEASE_FILE> updater; // null when none is offered

    // The file of a kind (1002, 1003), or null.
    std::shared_ptr<const RELEASE_FILE> FileOfKind(int kind) const;
    // "game version 7, updater version 0 (none), patch 123 bytes, ..."
    std::string Describe() const;
};

// Loads and checks a release directory. On failure returns null with a message.
std::shared_ptr<const RELEASE> LoadRelease(const std::string& dir, std::string* error);
