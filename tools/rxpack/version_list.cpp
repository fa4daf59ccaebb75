#include "version_list.h"

#include <algorithm>
#include <cstring>

#include "common/decimal_text.h"
#include "release/hex_text.h"

namespace {

bool ParseCanonical(const std::string& text, uint64_t max, uint64_t* value)
{
    return !(text.size() > 1 && text[0] == '0') && ParseUnsignedDecimal(text, max, value);
}

// "<sha256> <size>" at the start of rest; what follows the size (after one space) in *tail.
bool ParseContent(const std::string& rest, LISTED_FILE* file, std::string* tail)
{
    const size_t space = rest.find(' ');
    if (space == std::string::npos || !ParseHexLower(rest.substr(0, space), file->sha256, sizeof(file->sha256)))
        return false;
    const size_t next = rest.find(' ', space + 1);
    const std::string size = rest.substr(space + 1, next == std::string::npos ? std::string::npos : next - space - 1);
    if (!ParseCanonical(size, UINT64_MAX, &file->size))
        return false;
    *tail = next == std::string::npos ? std::string() : rest.substr(next + 1);
    return next != std::string::npos || tail->empty();
}

std::string Line(const LISTED_FILE& f)
{
    return HexLower(f.sha256, sizeof(f.sha256)) + " " + std::to_string(f.size);
}

} // namespace

bool LISTED_FILE::SameContent(const LISTED_FILE& other) const
{
    return size == other.size && std::memcmp(sha256, other.sha256, sizeof(sha256)) == 0;
}

const LISTED_FILE* VERSION_LIST::Find(const std::string& name) const
{
    const auto it = std::lower_bound(files.begin(), files.end(), name,
                                     [](const LISTED_FILE& f, const std::string& n) { return f.name < n; });
    return it != files.end() && it->name == name ? &*it : nullptr;
}

uint64_t VERSION_LIST::TotalBytes() const
{
    uint64_t total = 0;
    for (const LISTED_FILE& f : files)
        total += f.size;
    return total;
}

std::string FormatVersionList(const VERSION_LIST& list)
{
    std::string text = "velgrim-version " + std::to_string(VERSION_LIST::kFormat) + "\n";
    text += "version " + std::to_string(list.version) + "\n";
    text += list.updaterVersion == 0 ? std::string("updater 0\n")
                                     : "updater " + std::to_string(list.updaterVersion) + " " + Line(list.updater) + "\n";
    for (const LISTED_FILE& f : list.files)
        text += "file " + Line(f) + " " + f.name + "\n";
    return text;
}

bool ParseVersionList(const std::string& text, VERSION_LIST* list, std::string* error, bool* newer)
{
    *newer = false;
    VERSION_LIST result;
    size_t at = 0;
    int number = 0;
    std::string line;
    auto next = [&]() {
        if (at >= text.size())
            return false;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false; // the last line must end too
        line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        return true;
    };
    auto problem = [&](const std::string& what) {
        *error = "line " + std::to_string(number) + ": " + what;
        return false;
    };
    uint64_t value = 0;
    if (!next() || line.compare(0, 16, "velgrim-version ") != 0 || !ParseCanonical(line.substr(16), UINT32_MAX, &value))
        return problem("expected 'velgrim-version 1'");
    if (value != VERSION_LIST::kFormat) {
        *newer = value > VERSION_LIST::kFormat;
        return problem("version list format " + std::to_string(value) + " is not known (only 1)");
    }
    if (!next() || line.compare(0, 8, "version ") != 0 || !ParseCanonical(line.substr(8), UINT32_MAX, &value))
        return problem("expected 'version N'");
    result.version = static_cast<uint32_t>(value);
    if (!next() || line.compare(0, 8, "updater ") != 0)
        return problem("expected 'updater U [SHA256 SIZE]'");
    {
        const std::string rest = line.substr(8);
        const size_t space = rest.find(' ');
        if (!ParseCanonical(rest.substr(0, space), UINT32_MAX, &value))
            return problem("expected 'updater U [SHA256 SIZE]'");
        result.updaterVersion = static_cast<uint32_t>(value);
        std::string tail;
        if ((value == 0) != (space == std::string::npos) ||
            (value != 0 && (!ParseContent(rest.substr(space + 1), &result.updater, &tail) || !tail.empty())))
            return problem("expected 'updater 0' or 'updater U SHA256 SIZE'");
    }
    while (next()) {
        LISTED_FILE file;
        if (line.compare(0, 5, "file ") != 0 || !ParseContent(line.substr(5), &file, &file.name) || file.name.empty())
            return problem("expected 'file SHA256 SIZE NAME'");
        if (!result.files.empty() && !(result.files.back().name < file.name))
            return problem("'" + file.name + "' is out of order or listed twice");
        result.files.push_back(std::move(file));
    }
    if (at != text.size())
        return problem("the last line does not end with a line feed");
    *list = std::move(result);
    return true;
}
