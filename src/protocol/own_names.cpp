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

bool IsOwnName(const char* name)
{
    if (name == nullptr)
        return false;
    std::string first;
    bool more = false;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || *p == '/' || *p == '\\') {
            if (!first.empty() && first != ".") {
                more = *p != '\0';
                break;
            }
            first.clear();
            if (*p == '\0')
                break;
        } else {
            first.push_back(*p);
        }
    }
    if (EqualsIgnoringCase(first.c_str(), STAGING_DIR_NAME))
        return true;
    if (more)
        return false;
    for (const char* own : kOwnFiles)
        if (EqualsIgnoringCase(first.c_str(), own))
            return true;
    return false;
}
