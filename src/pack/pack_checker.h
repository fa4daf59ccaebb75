// Verifies a package as rxpack writes it: magic and version, the index checksum, every
// offset and size inside the file, safe and distinct names, and each content checksum.
#pragma once

#include <string>

// True when the package is sound; otherwise false with the first problem found.
bool CheckPackage(const std::string& path, std::string* problem);

// The check before a package is applied or served: a package rxpack made (its magic says
// so) is checked whole, as above; one made by another tool, which carries no checksums,
// must still have its table, name block, names and every content inside the file.
bool VerifyPackage(const std::string& path, std::string* problem);
