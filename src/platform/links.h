// Links in the game directory are never followed out of it: what the launcher writes,
// removes or empties under its own names is the thing at that name, never what a link
// there points at.
#pragma once

#include "platform/files.h"

// True when path itself (not what it points at) is a link: a symbolic link, or on
// Windows a link-type reparse point (a symbolic link, a junction, or what Wine shows
// for a Unix link). A cloud placeholder (OneDrive) is a file, not a link.
bool IsLink(const char* path);

// Removes the link at path itself, never what it points at. False when path is not a
// link or it stayed.
bool RemoveLink(const char* path);

// Opens one of the launcher's own fixed names (a temporary file, the lock): a link
// found there is removed first, and the file is then opened or created as `disposition`
// says without following a link that appears meanwhile.
HANDLE OpenOwnFile(const char* path, DWORD access, DWORD shareMode, DWORD disposition);

// Makes path a real directory: a link there is removed (never followed), a file there
// is deleted, and the directory is created. False when it cannot be had.
bool MakeOwnDirectory(const char* path);

// Removes the directory tree at path, files and folders, without ever entering a link:
// a link met on the way is removed itself. False when something stayed.
bool RemoveTree(const char* path);
