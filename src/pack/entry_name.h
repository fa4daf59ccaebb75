// Whether a package entry name may be written below a target directory.
#pragma once

// A safe name is relative and stays below the directory on every target: no root,
// drive or UNC prefix, no ':' (drives, streams), no '..' part (nor one that Windows
// would turn into it by dropping trailing dots and spaces), no device name (CON, NUL,
// COM1, LPT1, ... also with an extension), no control or wildcard characters, and it
// names a file, not a directory. Parts are separated by '\' or '/'.
bool IsSafeEntryName(const char* name);
