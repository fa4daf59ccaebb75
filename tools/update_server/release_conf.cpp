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
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++lineNumber;
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = where + "expected 'key = value', found '" + line + "'";
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        KEY* match = nullptr;
        for (KEY& k : keys)
            if (key == k.name)
                match = &k;
        if (match == nullptr) {
            *error = where + "unknown key '" + key + "'";
            return false;
        }
        if (match->seen) {
            *error = where + "'" + key + "' is given twice";
            return false;
        }
        if (!ParseUInt32(value, match->value)) {
            *error = where + "'" + key + "' needs an unsigned 32-bit decimal number, found '" + value + "'";
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
