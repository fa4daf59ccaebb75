#include "downloader/download_file_name.h"

#include <cstring>

#include "pack/entry_name.h"

bool IsPlainDownloadName(const char* name)
{
    if (name == nullptr || std::strpbrk(name, "/\\") != nullptr)
        return false;
    return IsSafeEntryName(name);
}
