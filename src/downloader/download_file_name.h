// Whether a file name announced by an update server may be written into the target
// directory.
#pragma once

// True for a plain file name: no directory parts, no root, drive, stream, '..' or
// device name, nothing Windows would rewrite into another name.
bool IsPlainDownloadName(const char* name);
