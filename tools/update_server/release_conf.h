// release.conf: the versions a release directory offers.
//
//     # comments and blank lines are allowed; '#' starts a comment anywhere on a line
//     game_version = 1207          (required)
//     updater_version = 1100       (optional, 0: no updater offered; 1024 and above: offered)
//     info_word = 0                (optional, accepted from older releases and not sent: the
//                                   version answer's first dword announces the extensions)
//
// Values are unsigned 32-bit decimals. Unknown keys, repeated keys, malformed lines and
// malformed numbers are errors. A UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <cstdint>
#include <string>

struct RELEASE_CONF {
    uint32_t game_version = 0;
    uint32_t updater_version = 0;
    uint32_t info_word = 0;
};

// Parses the text of release.conf. On failure returns false with a message naming the
// line ("line 3: unknown key 'foo'").
bool ParseReleaseConf(const std::string& text, RELEASE_CONF* conf, std::string* error);

