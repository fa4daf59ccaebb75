#include "platform/held_folders.h"

#include "platform/durable_files.h"
#include "platform/links.h"

HELD_FOLDERS::HELD_FOLDERS(const std::string& root) : m_strRoot(root) {}

HELD_FOLDERS::~HELD_FOLDERS() {}

std::string HELD_FOLDERS::PathOf(const std::string& folder) const
{
    if (folder.empty())
        return m_strRoot;
    return m_strRoot.empty() ? folder : m_strRoot + "\\" + folder;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::Folder(const std::string& name, bool make, int*, std::string* leaf)
{
    // Each part is looked at right before the use, every time: nothing is trusted from an
    // earlier look.
    std::string path;
    size_t start = 0;
    for (size_t end = name.find_first_of("/\\"); end != std::string::npos;
         start = end + 1, end = name.find_first_of("/\\", start)) {
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == ".")
            continue;
        const std::string parent = path;
        path += (path.empty() ? "" : "\\") + part;
        const std::string full = PathOf(path);
        if (IsLink(full.c_str()))
            return LINK;
        const DWORD attributes = GetFileAttributesA(full.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!make) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return FAILED;
            }
            if (!CreateDirectoryA(full.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return FAILED;
            m_Changed.insert(parent);
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return LINK;
        }
    }
    *leaf = name.substr(start);
    return DONE;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::MoveIn(const std::string& from, const std::string& name)
{
    std::string leaf;
    const RESULT found = Folder(name, true, nullptr, &leaf);
    if (found != DONE)
        return found;
    const std::string folder = name.size() > leaf.size() ? name.substr(0, name.size() - leaf.size() - 1) : "";
    const std::string to = PathOf(folder.empty() ? leaf : folder + "\\" + leaf);
    if (IsLink(to.c_str()))
        return LINK;
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return FAILED;
    ReportDurableStep("rename", to.c_str());
    m_Changed.insert(folder);
    return DONE;
}

HELD_FOLDERS::RESULT HELD_FOLDERS::MoveOut(const std::string& name, const std::string& to, bool* absent)
{
    *absent = false;
    std::string leaf;
    const RESULT found = Folder(name, false, nullptr, &leaf);
    if (found == FAILED && GetLastError() == ERROR_FILE_NOT_FOUND) {
        *absent = true;
        return DONE;
    }
    if (found != DONE)
        return found;
    const std::string folder = name.size() > leaf.size() ? name.substr(0, name.size() - leaf.size() - 1) : "";
    const std::string from = PathOf(folder.empty() ? leaf : folder + "\\" + leaf);
    if (GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES && !IsLink(from.c_str())) {
        *absent = true;
        return DONE;
    }
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return FAILED;
    m_Changed.insert(folder);
    return DONE;
}

bool HELD_FOLDERS::Flush()
{
    bool all = true;
    for (const std::string& folder : m_Changed)
        all = FlushDirectory(PathOf(folder)) && all;
    m_Changed.clear();
    return all;
}
