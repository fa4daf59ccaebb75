// Verifies a package as rxpack writes it: magic and version, the index checksum, every
// offset and size inside the file, safe and distinct names, and each content checksum.
#pragma once

#include <string>

// True when the package is sound; otherwise false with the first problem found.
bool CheckPackage(const std::string& path, std::string* problem);
