// What one version of the game is, as the release store records it: one text file per
// version, versions/<N>.txt, "\n" line ends, in this order and nothing else:
//
//     velgrim-version 1
//     version 3
//     updater 1100 <SHA-256> <size>           (or "updater 0": the release offers none)
//     file <SHA-256> <size> <name>            (one per file, sorted by name, byte order)
//
// SHA-256 is 64 lowercase hex digits, sizes are unsigned decimals without leading zeros,
// names are '/'-separated and relative to the game folder (they may hold spaces: the name
// is the rest of the line). The contents are in the store under their SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypto.h"

struct LISTED_FILE {
    std::string name;
    uint64_t size = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};

    bool SameContent(const LISTED_FILE& other) const;
};

struct VERSION_LIST {
    static constexpr uint32_t kFormat = 1;

    uint32_t version = 0;
    uint32_t updaterVersion = 0; // 0: no updater offered; else `updater` is its content
    LISTED_FILE updater;
    std::vector<LISTED_FILE> files; // sorted by name

    // The file of that name, or null.
    const LISTED_FILE* Find(const std::string& name) const;
    uint64_t TotalBytes() const;
};

std::string FormatVersionList(const VERSION_LIST& list);
// False with "line N: ..." for anything but the one spelling above; *newer is set when the
// text is of a later format than this rxpack knows.
bool ParseVersionList(const std::string& text, VERSION_LIST* list, std::string* error, bool* newer);
