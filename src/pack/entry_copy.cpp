#include "pack/entry_copy.h"

#include "pack/crc32.h"

namespace {

constexpr uint32_t kBlock = 512;

} // namespace

int CopyEntry(PACKAGE_READER& reader, HANDLE out, uint64_t offset, uint32_t size, const char* path,
              UNPACK_CALLBACK callback, uint32_t* crc)
{
    if (crc != nullptr)
        *crc = 0;
    uint64_t written = 0;
    int lastPercent = 0;
    while (written < size) {
        const uint32_t left = static_cast<uint32_t>(size - written);
        uint32_t got = 0;
        const unsigned char* bytes =
            reader.Peek(offset + written, left, left < kBlock ? left : kBlock, &got);
        // Only whole blocks are written; the last block of the entry may be short.
        const uint32_t usable = got >= left ? left : got / kBlock * kBlock;
        if (usable != 0) {
            DWORD put = 0;
            WriteFile(out, bytes, usable, &put, nullptr);
            if (crc != nullptr)
                *crc = Crc32(*crc, bytes, put);
            for (uint32_t at = 0; at < usable; at += kBlock) {
                const uint32_t block = usable - at < kBlock ? usable - at : kBlock;
                if (at + block > put)
                    return UNPACK_ERR_WRITE;
                written += block;
                const int percent = static_cast<int>(written * 100u / size);
                if (percent != lastPercent) {
                    lastPercent = percent;
                    callback(UNPACK_EVENT_FILE_PROGRESS, percent, path);
                }
            }
        }
        // The window holds at least a block unless the package ends first.
        if (usable == 0) {
            callback(UNPACK_EVENT_ERROR, UNPACK_ERR_READ, nullptr);
            return UNPACK_ERR_READ;
        }
    }
    return UNPACK_OK;
}

