#include "protocol/server_load.h"

#include <vector>

namespace {

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > max / 10 || (v == max / 10 && digit > max % 10))
            return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

} // namespace

std::string FormatServerLoad(const SERVER_LOAD& load)
{
    return std::to_string(load.connections) + " " + std::to_string(load.capacity) + " " +
           (load.draining ? "1" : "0") + " " + std::to_string(load.gameVersion) + " " +
           std::to_string(load.updaterVersion) + "\n";
}

bool ParseServerLoad(const std::string& text, SERVER_LOAD* load)
{
    std::string line = text;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ' ')
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    uint64_t v[5] = {};
    const uint64_t limits[5] = {UINT64_MAX, UINT64_MAX, 1, UINT32_MAX, UINT32_MAX};
    if (fields.size() != 5)
        return false;
    for (size_t i = 0; i < 5; ++i)
        if (!ParseDecimal(fields[i], limits[i], &v[i]))
            return false;
    if (v[1] == 0)
        return false;
    load->connections = v[0];
    load->capacity = v[1];
    load->draining = v[2] == 1;
    load->gameVersion = static_cast<uint32_t>(v[3]);
    load->updaterVersion = static_cast<uint32_t>(v[4]);
    return true;
}
