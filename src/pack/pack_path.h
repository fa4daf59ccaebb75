// Path helpers of the unpacker.
#pragma once

#include <cstddef>

#include "platform/files.h"

// Writes dir, a separator unless dir already ends with one, and name into out. Returns
// out, or null when the result would not fit in out_size - 1 characters. An empty (or
// null) dir gives the name alone, relative to the current directory, never a root path.
// Windows joins with '\'; elsewhere '\' is a separator too and every one becomes '/'.
char* JoinPath(char* out, size_t out_size, const char* dir, const char* name);

// Creates every directory on the way to the file path names (not the file): at each '\'
// or '/', CreateDirectoryA on the text before it, failures ignored.
void CreateParentDirectories(const char* path);

// CreateFileA that first creates every directory on the way to the file: at each '\' or
// '/' of a private copy of path, CreateDirectoryA on the text before it, failures ignored.
HANDLE CreatePathAndFile(const char* path, DWORD access, DWORD share_mode, SECURITY_ATTRIBUTES* security,
                         DWORD disposition, DWORD flags, HANDLE template_file);

// True when some part of name below dir, the last included, is a link (IsLink): writing
// there would follow it, maybe out of dir. Parts that do not exist
// yet are not links. dir itself may be one.
bool PathCrossesLink(const char* dir, const char* name);
