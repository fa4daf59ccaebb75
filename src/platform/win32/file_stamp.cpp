#include "platform/file_stamp.h"

bool GetFileStamp(HANDLE file, FILE_STAMP* stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info))
        return false;
    stamp->id = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    stamp->size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    stamp->modified = static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
    return true;
}
