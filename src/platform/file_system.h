// What the file calls do not tell: free space, and how the file system compares names.
#pragma once

#include <cstdint>
#include <string>

// Bytes this process may still write on the volume that holds path. False when unknown.
bool FreeDiskBytes(const char* path, uint64_t* bytes);

// The name as the file system compares names that differ only in case: Windows folds the
// case of every letter, accented and other scripts included. Only for comparing.
std::string FoldNameCase(const std::string& name);
