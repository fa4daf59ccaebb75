// What says that an open file is still the one that was read: its identity, size and
// modification time. A file rewritten in place under an open handle shows a new stamp; one
// renamed or unlinked (a release replaced beside it) does not.
#pragma once

#include <cstdint>

#include "platform/files.h"

struct FILE_STAMP {
    uint64_t id = 0;
    uint64_t size = 0;
    uint64_t modified = 0; // the system's own units

    bool operator==(const FILE_STAMP&) const = default;
};

// False when the system cannot tell.
bool GetFileStamp(HANDLE file, FILE_STAMP* stamp);
