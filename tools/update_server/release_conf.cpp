#include "update_server/release_conf.h"

#include "common/decimal_text.h"

#include <cstddef>

namespace {

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// A key as the studio can read it in a message: bytes an editor does not show (a stray
// byte-order mark, a control character) are written as \xNN.
std::string Visible(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

bool ParseReleaseConf(const std::string& text, RELEASE_CONF* conf, std::string* error)
{
    struct KEY {
        const char* name;
        uint32_t* value;
        bool seen;
    };
    RELEASE_CONF result;
    KEY keys[] = {
        {"game_version", &result.game_version, false},
        {"updater_version", &result.updater_version, false},
        {"info_word", &result.info_word, false},
    };
    // Editors on Windows start a UTF-8 file with a byte-order mark.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++lineNumber;
        // Values are numbers, so a '#' is never part of one: it starts a comment anywhere.
        std::string line = text.substr(start, end - start);
        line = Trim(line.substr(0, line.find('#')));
        start = end + 1;
        if (line.empty())
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = where + "expected 'key = value', found '" + Visible(line) + "'";
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        KEY* match = nullptr;
        for (KEY& k : keys)
            if (key == k.name)
                match = &k;
        if (match == nullptr) {
            *error = where + "unknown key '" + Visible(key) + "'";
            return false;
        }
        if (match->seen) {
            *error = where + "'" + key + "' is given twice";
            return false;
        }
        if (!ParseUInt32(value, match->value)) {
            *error = where + "'" + key + "' needs an unsigned 32-bit decimal number, found '" + Visible(value) + "'";
            return false;
        }
        match->seen = true;
    }
    if (!keys[0].seen) {
        *error = "game_version is missing";
        return false;
    }
    *conf = result;
    return true;
}
