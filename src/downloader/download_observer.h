// What a downloader tells about the part file it writes, for work that goes on while the
// download does (staging a package's entries as their bytes arrive). Called on the thread
// that drives the downloader; an observer does its work elsewhere and returns at once.
#pragma once

#include <cstdint>
#include <string>

class DOWNLOAD_OBSERVER {
public:
    virtual ~DOWNLOAD_OBSERVER() = default;
    // A transfer of `kind` writes partPath, a file of `total` bytes whose server tag is
    // `tag` (below 2: none), going on from byte `start` (0: from the beginning).
    virtual void OnPartBegin(int kind, const std::string& partPath, uint64_t total, uint64_t start, uint32_t tag) = 0;
    // Bytes [0, n) of the part are written and can be read through another handle.
    virtual void OnPartOnDisk(uint64_t n) = 0;
    // The part passed its checks and is now the file at `path`, its final name (the part's
    // name is gone: work that has not opened it yet reads it there).
    virtual void OnPartComplete(const std::string& path) = 0;
    // The part is gone (it failed a check, the conversation broke, it could not be kept):
    // nothing made from its bytes may be used.
    virtual void OnPartDiscarded() = 0;
};
