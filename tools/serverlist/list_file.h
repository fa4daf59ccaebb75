// Replacing the published list in one step: the text goes to a temporary file beside it,
// readable by all (the web server runs as another user), is flushed to disk, and is
// renamed over the list, so that the web server serves the old list or the new one,
// never a part.
#pragma once

#include <string>

// True on success; otherwise false with a message, and the old list untouched.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string* error);

// The whole file, or false when it cannot be read.
bool ReadTextFile(const std::string& path, std::string* text);
