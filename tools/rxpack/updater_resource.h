// The updater version a launcher program carries in its Windows version resource: the
// "FileVersion" string (the decimal version) of its VS_VERSION_INFO, which must agree with
// the binary file version fields (N.0.0.0, or high.low.0.0 above 65535, as the build
// writes them). The same build writes the version the program checks offers against, so
// the resource is what the program will say it is.
#pragma once

#include <cstdint>
#include <string>

// From the bytes of a PE file. False with the reason: not a Windows program, no version
// resource, a malformed one, or fields that disagree.
bool ReadUpdaterVersion(const std::string& bytes, uint32_t* version, std::string* error);
// The same from a file.
bool ReadUpdaterVersionFile(const std::string& path, uint32_t* version, std::string* error);
