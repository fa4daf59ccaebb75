// The launcher's side of the package request (update_protocol.h): the 28-byte request it
// sends to a server that announced SERVER_CAP_PACKAGES, and the strict reading of the
// MSG_FILE_BEGIN that answers either request. A plain request (kind, 0, 0) is answered
// with exactly the name and the size; a package request with exactly the name and its six
// dwords, and a seventh (the package's features, its header flags) when the request asked
// for PACKAGE_FEATURE_ZSTD or PACKAGE_FEATURE_DELTA (a server of the previous release,
// which has plain packages only, answers that request with six: features 0). Anything else,
// fewer bytes or more, is not the answer asked for.
#pragma once

#include <cstdint>
#include <string>

#include "net/net_message_helper.h"

struct PACKAGE_REQUEST {
    uint32_t kind = 0;
    uint64_t offset = 0; // where the kept part ends (0: none)
    uint32_t tag = 0;    // that part's tag, RESUME_TAG_NONE when none is kept
    uint32_t installed = 0;
    uint32_t features = 0;
};

struct PACKAGE_ANNOUNCEMENT {
    std::string name; // without its zero byte
    uint64_t size = 0;
    // Package answers only; a plain answer leaves them 0.
    bool extended = false;
    uint32_t tag = 0;
    uint64_t start = 0;
    uint32_t base = 0;
    uint32_t features = 0; // the seven-dword answer only
};

// MSG_GET_FILE: kind, offset low, tag, GET_FILE_PACKAGE_MARK, offset high, installed
// version, features.
void WritePackageRequest(NET_MESSAGE_HELPER& body, const PACKAGE_REQUEST& request);

// Reads a MSG_FILE_BEGIN body as the answer to a package request (extended; featured when
// it asked for ZSTD or DELTA) or to a plain one; false unless exactly that answer's fields
// are there.
bool ReadAnsweredAnnouncement(const char* body, int length, bool extended, PACKAGE_ANNOUNCEMENT* file,
                              bool featured = false);
