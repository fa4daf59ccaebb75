// Packages for tests that only need something update-server will serve.
#pragma once

#include <string>

// A package with no entries, as another tool than rxpack could write it (48 zero header
// bytes, so no magic and no checksums), followed by tail: whatever bytes a transfer test
// wants to carry. It passes the checks before a patch is served or applied.
inline std::string BarePackage(const std::string& tail = std::string())
{
    return std::string(48, '\0') + tail;
}
