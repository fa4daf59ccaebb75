#include "platform/file_stamp.h"

#include <cstdint>
#include <sys/stat.h>

bool GetFileStamp(HANDLE file, FILE_STAMP* stamp)
{
    struct stat st;
    if (file == INVALID_HANDLE_VALUE || fstat(static_cast<int>(reinterpret_cast<intptr_t>(file)), &st) != 0)
        return false;
    stamp->id = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->modified = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return true;
}
