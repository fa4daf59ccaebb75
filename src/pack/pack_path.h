// Path helpers of the unpacker.
#pragma once

#include <cstddef>

#include "platform/files.h"

// Writes dir, a separator unless dir already ends with one, and name into out. Returns
// out, or null when the result would not fit in out_size - 1 characters. An empty (or
// null) dir gives the name alone, relative to the current directory, never a root path.
// Windows joins with '\'; elsewhere '\' is a separator too and every one becomes '/'.
char* JoinPath(char* out, size_t out_size, const char* dir, const char* name);

// CreateFileA that first creates every directory on the way to the file: at each '\' or
// '/' of a private copy of path, CreateDirectoryA on the text before it, failures ignored.
HANDLE CreatePathAndFile(const char* path, DWORD access, DWORD share_mode, SECURITY_ATTRIBUTES* security,
                         DWORD disposition, DWORD flags, HANDLE template_file);
