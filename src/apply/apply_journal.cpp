#include "apply/apply_journal.h"

#include <cstdio>

#include "common/decimal_text.h"
#include "pack/entry_name.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "platform/links.h"
#include "platform/replacing_file.h"
#include "protocol/own_names.h"

namespace {

const char kFirstLine[] = "velgrim-apply 2";
const char kFirstLineV1[] = "velgrim-apply 1";
const char kFirstLineV3[] = "velgrim-apply 3";
// Far more than a journal of any real package; a larger file is not one of ours.
const uint32_t kMaxJournalBytes = 64u << 20;

const char* StateName(APPLY_STATE state)
{
    return state == APPLY_SWAPPING ? "swapping" : state == APPLY_RECEIVING ? "receiving" : "staging";
}

bool StartsWith(const std::string& text, const char* prefix, std::string* rest)
{
    const std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0)
        return false;
    *rest = text.substr(p.size());
    return true;
}

bool ParseHex32(const std::string& text, uint32_t* value)
{
    if (text.size() != 8)
        return false;
    uint32_t v = 0;
    for (const char h : text) {
        const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
        if (digit < 0)
            return false;
        v = v << 4 | static_cast<uint32_t>(digit);
    }
    *value = v;
    return true;
}

// "SIZE CRC": decimal size, eight lower-case hex digits.
bool ParsePackage(const std::string& text, uint64_t* size, uint32_t* crc)
{
    const size_t space = text.find(' ');
    if (space == std::string::npos || space == 0 || space > 20 || text.size() != space + 9)
        return false;
    uint64_t s = 0;
    for (size_t i = 0; i < space; ++i) {
        if (text[i] < '0' || text[i] > '9' || s > (UINT64_MAX - 9) / 10)
            return false;
        s = s * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *size = s;
    return ParseHex32(text.substr(space + 1), crc);
}

} // namespace

bool IsJournalFileName(const std::string& name)
{
    return IsSafeEntryName(name.c_str()) && !IsOwnName(name.c_str());
}

bool WriteApplyJournal(const std::string& path, const APPLY_JOURNAL& journal)
{
    char crc[16], tag[16];
    std::snprintf(crc, sizeof(crc), "%08x", static_cast<unsigned>(journal.packageIndexCrc));
    std::snprintf(tag, sizeof(tag), "%08x", static_cast<unsigned>(journal.packageTag));
    const bool receiving = journal.state == APPLY_RECEIVING;
    std::string text = std::string(receiving ? kFirstLineV3 : kFirstLine) + "\nversion " +
                       std::to_string(journal.version) + "\npackage " + std::to_string(journal.packageSize) + " " + crc +
                       "\n" + (receiving ? std::string("tag ") + tag + "\n" : std::string()) + "state " +
                       StateName(journal.state) + "\n";
    for (const APPLY_ITEM& item : journal.items)
        text += (item.removal ? "remove " : receiving && item.staged ? "staged " : "file ") + item.name + "\n";
    REPLACING_FILE out(path);
    return out.Create() && out.Write(text.data(), text.size()) && out.Commit();
}

JOURNAL_READ ReadApplyJournal(const std::string& path, APPLY_JOURNAL* journal)
{
    FILE_HANDLE file(OpenOwnFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? JOURNAL_ABSENT : JOURNAL_UNREADABLE;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        return JOURNAL_UNREADABLE;
    if (size.QuadPart <= 0 || size.QuadPart > kMaxJournalBytes)
        return JOURNAL_NOT_OURS;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    if (!ReadFileAt(file.Get(), 0, text.data(), static_cast<uint32_t>(text.size())))
        return JOURNAL_UNREADABLE;
    // A journal cut short by a crash is never taken: it is written whole or not at all.
    if (text.back() != '\n')
        return JOURNAL_NOT_OURS;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    APPLY_JOURNAL read;
    std::string value;
    // Format 3 is format 2 while the package arrives: a tag line, and staged entries marked.
    const bool v3 = !lines.empty() && lines[0] == kFirstLineV3;
    const bool v2 = v3 || (!lines.empty() && lines[0] == kFirstLine);
    const size_t stateLine = v3 ? 4 : v2 ? 3 : 2;
    if (lines.size() <= stateLine || (!v2 && lines[0] != kFirstLineV1) || !StartsWith(lines[1], "version ", &value) ||
        !ParseUInt32(value, &read.version))
        return JOURNAL_NOT_OURS;
    if (v2 && (!StartsWith(lines[2], "package ", &value) ||
               !ParsePackage(value, &read.packageSize, &read.packageIndexCrc)))
        return JOURNAL_NOT_OURS;
    if (v3 && (!StartsWith(lines[3], "tag ", &value) || !ParseHex32(value, &read.packageTag)))
        return JOURNAL_NOT_OURS;
    read.hasPackage = v2;
    if (v3 ? lines[stateLine] != "state receiving"
           : lines[stateLine] != "state staging" && lines[stateLine] != "state swapping")
        return JOURNAL_NOT_OURS;
    read.state = v3 ? APPLY_RECEIVING : lines[stateLine] == "state swapping" ? APPLY_SWAPPING : APPLY_STAGING;
    for (size_t i = stateLine + 1; i < lines.size(); ++i) {
        APPLY_ITEM item;
        if (StartsWith(lines[i], "file ", &value)) {
            item.name = value;
        } else if (v3 && StartsWith(lines[i], "staged ", &value)) {
            item.name = value;
            item.staged = true;
        } else if (v2 && StartsWith(lines[i], "remove ", &value)) {
            item.name = value;
            item.removal = true;
        } else {
            return JOURNAL_NOT_OURS;
        }
        // Names are written where the package's own would be: one that could lead out of
        // the game directory, or onto the launcher's own files, was never written by us.
        if (!IsJournalFileName(item.name))
            return JOURNAL_NOT_OURS;
        read.items.push_back(item);
    }
    *journal = read;
    return JOURNAL_FOUND;
}
