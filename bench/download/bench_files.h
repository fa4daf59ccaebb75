// Files of the download benchmarks: generated patch content and a release directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

bool WriteFileBytes(const std::string& path, const char* data, size_t size);
// The whole file, or an empty text when it cannot be read.
std::string ReadText(const std::string& path);
// `bytes` of pseudo-random content after 48 zero bytes (a package without entries, which
// update-server serves), the same for the same seed.
std::string MakeContent(size_t bytes, unsigned seed);
// A release directory that offers `patch` as game version 2.
bool MakeRelease(const std::string& dir, const std::string& patch);
// MB/s (10^6 bytes per second) of `bytes` in `ms`; 0 for no time.
double MBps(uint64_t bytes, uint64_t ms);
