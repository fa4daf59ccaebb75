#include "cdn_tree.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "release/release_manifest.h"
#include "release_store.h"

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The name's content reaches the disk: a copy is flushed (a hard link shares the flushed
// content of the serve dir's file).
bool FlushCopy(const std::string& path)
{
    FILE_HANDLE file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && FlushFile(file.Get(), path.c_str()) && file.Close();
}

// One object: source under its hash in objects.
bool AddObject(const std::string& source, const std::string& objects, bool* isNew, std::string* error)
{
    LISTED_FILE described;
    if (!DescribeFile(source, &described, error))
        return false;
    const std::string hex = HexLower(described.sha256, sizeof(described.sha256));
    const std::string target = objects + "/" + hex;
    std::error_code ec;
    *isNew = false;
    if (fs::exists(fs::symlink_status(target, ec))) {
        LISTED_FILE held;
        if (fs::is_regular_file(fs::symlink_status(target, ec)) &&
            (fs::equivalent(source, target, ec) ||
             (DescribeFile(target, &held, error) && held.SameContent(described))))
            return true;
        *error = target + " holds other bytes than its name says (a damaged object, never overwritten); move it "
                          "away, and purge it from every cache that took it, then run again";
        return false;
    }
    const std::string temp = objects + "/." + hex + ".new-" + std::to_string(CurrentProcessId());
    fs::remove(temp, ec);
    fs::create_hard_link(source, temp, ec);
    if (ec) {
        // Another file system, or one without links: a copy, flushed before it is named.
        ec.clear();
        fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
        if (ec || !FlushCopy(temp)) {
            fs::remove(temp, ec);
            *error = "cannot copy " + source + " to " + temp;
            return false;
        }
    }
    if (!RenameDurably(temp.c_str(), target.c_str())) {
        fs::remove(temp, ec);
        *error = "cannot rename " + temp + " to " + target;
        return false;
    }
    *isNew = true;
    return true;
}

} // namespace

bool CheckMirrorUrl(const std::string& url, std::string* why)
{
    *why = MirrorUrlProblem(url);
    return why->empty();
}

bool TakeMirrorOptions(std::vector<std::string>* args, std::vector<std::string>* mirrors, std::string* error)
{
    std::vector<std::string> rest;
    for (size_t i = 0; i < args->size(); ++i) {
        const std::string& arg = (*args)[i];
        std::string url;
        if (arg == "--mirror") {
            if (i + 1 == args->size()) {
                *error = "--mirror needs a value";
                return false;
            }
            url = (*args)[++i];
        } else if (StartsWith(arg, "--mirror=")) {
            url = arg.substr(9);
        } else {
            rest.push_back(arg);
            continue;
        }
        std::string why;
        if (!CheckMirrorUrl(url, &why)) {
            *error = "--mirror '" + url + "': " + why;
            return false;
        }
        if (std::find(mirrors->begin(), mirrors->end(), url) != mirrors->end()) {
            *error = "--mirror '" + url + "' is given twice";
            return false;
        }
        if (mirrors->size() == RELEASE_MANIFEST::kMaxMirrors) {
            *error = "at most " + std::to_string(RELEASE_MANIFEST::kMaxMirrors) + " mirrors";
            return false;
        }
        mirrors->push_back(url);
    }
    args->swap(rest);
    return true;
}

bool AddCdnObjects(const std::string& storeDir, const std::string& serveDir, std::vector<std::string>* added,
                   std::string* error)
{
    const std::string objects = storeDir + "/cdn/objects";
    std::error_code ec;
    fs::create_directories(objects, ec);
    if (ec) {
        *error = "cannot create " + objects + ": " + ec.message();
        return false;
    }
    std::vector<std::string> sources;
    for (const fs::directory_entry& entry : fs::directory_iterator(serveDir, ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code kindError;
        if (entry.is_regular_file(kindError) && (EndsWith(name, ".rxpack") || name == UPDATER_FILE_NAME))
            sources.push_back(name);
    }
    if (ec) {
        *error = "cannot list " + serveDir + ": " + ec.message();
        return false;
    }
    std::sort(sources.begin(), sources.end());
    for (const std::string& name : sources) {
        bool isNew = false;
        if (!AddObject(serveDir + "/" + name, objects, &isNew, error))
            return false;
        if (isNew)
            added->push_back(name);
    }
    if (!FlushDirectory(objects)) {
        *error = "cannot flush " + objects;
        return false;
    }
    return true;
}
