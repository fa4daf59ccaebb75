#include "apply/apply_journal.h"

#include <fstream>

#include "common/decimal_text.h"
#include "platform/replacing_file.h"

namespace {

const char kFirstLine[] = "velgrim-apply 1";

const char* StateName(APPLY_STATE state)
{
    return state == APPLY_SWAPPING ? "swapping" : "staging";
}

} // namespace

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
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return false;
    std::string line;
    if (!std::getline(in, line) || line != kFirstLine)
        return false;
    APPLY_JOURNAL read;
    if (!std::getline(in, line) || line.rfind("version ", 0) != 0 || !ParseUInt32(line.substr(8), &read.version))
        return false;
    if (!std::getline(in, line) || (line != "state staging" && line != "state swapping"))
        return false;
    read.state = line == "state swapping" ? APPLY_SWAPPING : APPLY_STAGING;
    while (std::getline(in, line)) {
        if (line.rfind("file ", 0) != 0 || line.size() == 5)
            return false;
        read.files.push_back(line.substr(5));
    }
    // A journal cut short by a crash is never taken: it is written whole or not at all.
    in.clear();
    in.seekg(-1, std::ios::end);
    char last = 0;
    if (!in.get(last) || last != '\n')
        return false;
    *journal = read;
    return true;
}
