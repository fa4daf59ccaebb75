// The load line an update server reports on its status port (GET /load) and the list
// publisher reads: five unsigned decimals separated by one blank, then a line end.
//
//     connections capacity draining game_version updater_version
//     12 1000 0 7 0
#pragma once

#include <cstdint>
#include <string>

struct SERVER_LOAD {
    uint64_t connections = 0;
    uint64_t capacity = 0; // at least 1
    bool draining = false;
    uint32_t gameVersion = 0;
    uint32_t updaterVersion = 0;
};

// "12 1000 0 7 0\n".
std::string FormatServerLoad(const SERVER_LOAD& load);

// Reads one line as FormatServerLoad writes it (a final "\n" or "\r\n" may be missing).
// False for anything else: missing or extra fields, signs, blanks other than the single
// separators, numbers out of range, a capacity of 0 or a draining flag other than 0 or 1.
bool ParseServerLoad(const std::string& text, SERVER_LOAD* load);
