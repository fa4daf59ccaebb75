#include "protocol/own_names.h"

#include <string>

#include "common/ascii_case.h"
#include "protocol/update_protocol.h"

namespace {

// Files at the top of the game directory, the temporary names they are written under and
// the records kept beside a download to go on with it included.
const char* const kOwnFiles[] = {
    UPDATER_EXE_NAME,
    "Updater.exe.new",
    UPDATER_FILE_NAME,
    "UpdaterNew.exe.part",
    "UpdaterNew.exe.resume",
    "UpdaterNew.exe.resume.new",
    PATCH_FILE_NAME,
    "Velgrim_patch.rxpack.part",
    "Velgrim_patch.rxpack.resume",
    "Velgrim_patch.rxpack.resume.new",
    VERSION_FILE_NAME,
    "version.txt.new",
    LOCK_FILE_NAME,
};

} // namespace

bool IsShortAlias(const std::string& part)
{
    const size_t dot = part.find('.');
    const std::string base = part.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : part.substr(dot + 1);
    if (base.size() > 8 || extension.size() > 3 || extension.find('.') != std::string::npos)
        return false;
    const size_t tilde = base.rfind('~');
    if (tilde == std::string::npos || tilde + 1 == base.size())
        return false;
    for (size_t i = tilde + 1; i < base.size(); ++i)
        if (base[i] < '0' || base[i] > '9')
            return false;
    return true;
}

bool IsOwnName(const char* name)
{
    if (name == nullptr)
        return false;
    std::string first;
    bool more = false;
    bool alias = false;
    std::string part;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || *p == '/' || *p == '\\') {
            alias = alias || IsShortAlias(part);
            if (first.empty() && !part.empty() && part != ".")
                first = part;
            else if (!first.empty() && !part.empty() && part != ".")
                more = true;
            part.clear();
            if (*p == '\0')
                break;
        } else {
            part.push_back(*p);
        }
    }
    // Windows resolves a short alias to whatever long name holds it, ours included: no
    // such name is ever taken from a package, on any target.
    if (alias)
        return true;
    if (EqualsIgnoringCase(first.c_str(), STAGING_DIR_NAME))
        return true;
    if (more)
        return false;
    for (const char* own : kOwnFiles)
        if (EqualsIgnoringCase(first.c_str(), own))
            return true;
    return false;
}
