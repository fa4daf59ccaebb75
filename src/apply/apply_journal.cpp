#include "apply/apply_journal.h"

#include "common/decimal_text.h"
#include "pack/entry_name.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"
#include "platform/links.h"
#include "platform/replacing_file.h"
#include "protocol/own_names.h"

namespace {

const char kFirstLine[] = "velgrim-apply 1";
// Far more than a journal of any real package; a larger file is not one of ours.
const uint32_t kMaxJournalBytes = 64u << 20;

const char* StateName(APPLY_STATE state)
{
    return state == APPLY_SWAPPING ? "swapping" : "staging";
}

bool StartsWith(const std::string& text, const char* prefix, std::string* rest)
{
    const std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0)
        return false;
    *rest = text.substr(p.size());
    return true;
}

} // namespace

bool IsJournalFileName(const std::string& name)
{
    return IsSafeEntryName(name.c_str()) && !IsOwnName(name.c_str());
}

bool WriteApplyJournal(const std::string& path, const APPLY_JOURNAL& journal)
{
    std::string text = std::string(kFirstLine) + "\nversion " + std::to_string(journal.version) + "\nstate " +
                       StateName(journal.state) + "\n";
    for (const std::string& file : journal.files)
        text += "file " + file + "\n";
    REPLACING_FILE out(path);
    return out.Create() && out.Write(text.data(), text.size()) && out.Commit();
}

bool ReadApplyJournal(const std::string& path, APPLY_JOURNAL* journal)
{
    FILE_HANDLE file(OpenOwnFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kMaxJournalBytes)
        return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    if (!ReadFileAt(file.Get(), 0, text.data(), static_cast<uint32_t>(text.size())))
        return false;
    // A journal cut short by a crash is never taken: it is written whole or not at all.
    if (text.back() != '\n')
        return false;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    APPLY_JOURNAL read;
    std::string value;
    if (lines.size() < 3 || lines[0] != kFirstLine || !StartsWith(lines[1], "version ", &value) ||
        !ParseUInt32(value, &read.version) || (lines[2] != "state staging" && lines[2] != "state swapping"))
        return false;
    read.state = lines[2] == "state swapping" ? APPLY_SWAPPING : APPLY_STAGING;
    for (size_t i = 3; i < lines.size(); ++i) {
        // Names are written where the package's own would be: one that could lead out of
        // the game directory, or onto the launcher's own files, was never written by us.
        if (!StartsWith(lines[i], "file ", &value) || !IsJournalFileName(value))
            return false;
        read.files.push_back(value);
    }
    *journal = read;
    return true;
}
