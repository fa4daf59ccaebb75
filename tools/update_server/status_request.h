// The one kind of request the status port takes: an HTTP/1.0 or 1.1 GET of a path, whose
// head (request line and header lines, up to the empty line) has arrived whole.
#pragma once

#include <cstddef>
#include <string>

enum STATUS_REQUEST_STATE {
    REQUEST_INCOMPLETE = 0, // the head has not ended yet and is within the limit
    REQUEST_GET,            // a well-formed GET; *path holds its path without the query
    REQUEST_BAD,            // malformed
    REQUEST_TOO_LARGE,      // the head is longer than maxHead bytes
    REQUEST_NOT_GET,        // well-formed, another method
};

// Looks at the bytes received so far.
STATUS_REQUEST_STATE CheckStatusRequest(const std::string& received, size_t maxHead, std::string* path);
