#include "protocol/server_load.h"

#include <vector>

#include "common/decimal_text.h"

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
        if (!ParseUnsignedDecimal(fields[i], limits[i], &v[i]))
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
