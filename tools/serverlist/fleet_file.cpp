#include "serverlist/fleet_file.h"

#include <sstream>

#include "common/decimal_text.h"
#include "platform/sockets.h"

namespace {

bool ParsePort(const std::string& text, unsigned short* port)
{
    uint64_t value = 0;
    if (!ParseUnsignedDecimal(text, 65535, &value) || value == 0)
        return false;
    *port = static_cast<unsigned short>(value);
    return true;
}

bool FitsTheList(const std::string& field)
{
    for (unsigned char c : field)
        if (c == ';' || c < ' ' || c == 0x7F)
            return false;
    return !field.empty();
}

} // namespace

bool ParseFleetFile(const std::string& text, std::vector<FLEET_HOST>* hosts, std::string* error)
{
    std::vector<FLEET_HOST> result;
    std::vector<int> lineOf;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.empty() || fields[0][0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (fields.size() != 5) {
            *error = where + "needs 'address port status-address:status-port x y', found " +
                     std::to_string(fields.size()) + " field(s)";
            return false;
        }
        FLEET_HOST host;
        host.address = fields[0];
        host.x = fields[3];
        host.y = fields[4];
        for (const std::string* f : {&host.address, &host.x, &host.y}) {
            if (!FitsTheList(*f)) {
                *error = where + "'" + *f + "' cannot go into the list (no ';' or control characters)";
                return false;
            }
        }
        if (!ParsePort(fields[1], &host.port)) {
            *error = where + "port '" + fields[1] + "' is not a number from 1 to 65535";
            return false;
        }
        const size_t colon = fields[2].rfind(':');
        in_addr parsed;
        if (colon == std::string::npos || inet_pton(AF_INET, fields[2].substr(0, colon).c_str(), &parsed) != 1 ||
            !ParsePort(fields[2].substr(colon + 1), &host.statusPort)) {
            *error = where + "status address '" + fields[2] + "' is not an IPv4 address and port such as 10.0.0.11:9465";
            return false;
        }
        host.statusAddress = fields[2].substr(0, colon);
        for (size_t i = 0; i < result.size(); ++i) {
            if (result[i].address == host.address && result[i].port == host.port) {
                *error = where + host.Name() + " is listed already on line " + std::to_string(lineOf[i]);
                return false;
            }
        }
        result.push_back(host);
        lineOf.push_back(number);
    }
    if (result.empty()) {
        *error = "no hosts in the fleet file";
        return false;
    }
    *hosts = result;
    return true;
}
