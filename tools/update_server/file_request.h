// The server's side of MSG_GET_FILE: which request a body is, and the package answer.
//
//   12 bytes  kind, 0, 0                  plain: exactly the plain answer (name, size)
//   12 bytes  kind, offset, tag (tag > 0) resume, from launchers of the previous release:
//                                         name, size, tag, start
//   28 bytes  the package request (update_protocol.h): the package for the installed
//             version, answered with 64-bit sizes and the package's base
//   anything else (another length, a plain request with an offset, a package request
//   without its mark, an offset with no tag): malformed, answered MSG_FILE_FAILED
//
// Bodies above kMaxFileRequestBody (update_messages.h) are not read: the client is dropped.
#pragma once

#include <cstdint>
#include <string>

#include "net/net_message_helper.h"
#include "protocol/update_protocol.h"

// What this server announces in the version answer's first dword.
constexpr uint32_t kServerCapabilities = SERVER_CAPS_MAGIC | SERVER_CAP_RESUME | SERVER_CAP_PACKAGES;

enum class REQUEST_SHAPE { kPlain, kResume, kPackage, kMalformed };

struct SHAPED_FILE_REQUEST {
    REQUEST_SHAPE shape = REQUEST_SHAPE::kMalformed;
    uint32_t kind = 0;
    uint64_t offset = 0; // where the client's kept part ends (0: it holds none)
    uint32_t tag = 0;    // that part's tag
    uint32_t installed = 0; // package request: installed game version (0: unknown)
    uint32_t features = 0;  // package request: PACKAGE_FEATURE_*
};

SHAPED_FILE_REQUEST ReadShapedFileRequest(const char* body, int length);

// The answer to a package request (MSG_FILE_BEGIN): name with its zero byte, size low,
// tag, start low, size high, start high, base, and, only when the request asked for
// PACKAGE_FEATURE_ZSTD or PACKAGE_FEATURE_DELTA, the package's features (its header flags).
struct PACKAGE_ANSWER {
    std::string name;
    uint64_t size = 0;
    uint32_t tag = 0;
    uint64_t start = 0;
    uint32_t base = 0;
    bool withFeatures = false;
    uint32_t features = 0;
};

// Whether a request's features get the answer with the features dword.
constexpr bool AnswersFeatures(uint32_t requested)
{
    return (requested & (PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA)) != 0;
}

void WritePackageAnswer(NET_MESSAGE_HELPER& body, const PACKAGE_ANSWER& answer);
