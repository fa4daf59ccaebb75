// Verifies a package as rxpack writes it: magic and version, the index checksum, every
// offset and size inside the file, safe and distinct names (none of the launcher's own),
// and each content checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class PACKAGE_SOURCE;
class PACK_INDEX;
struct PACK_INDEX_ENTRY;

// True when the package is sound; otherwise false with the first problem found.
bool CheckPackage(const std::string& path, std::string* problem);

// The check before a package is applied or served: a package rxpack made (its magic says
// so) is checked whole, as above; one made by another tool, which carries no checksums,
// must still have its table, name block, usable names and every content inside the file.
bool VerifyPackage(const std::string& path, std::string* problem);
bool VerifyPackage(const PACKAGE_SOURCE& source, std::string* problem);

// The same in two steps, for a reader that checks the contents as it copies them: the
// index alone (everything but the contents' checksums), then the contents.
bool CheckPackageIndex(const PACK_INDEX& index, std::string* problem);
bool CheckPackageContents(const PACK_INDEX& index, const PACKAGE_SOURCE& source, std::string* problem);
// The problem of entry `index`, whose content gave `crc`.
std::string ContentMismatch(size_t index, const PACK_INDEX_ENTRY& e, uint32_t crc);
