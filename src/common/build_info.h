// What a program says for --version: its name and the build's revision, then what the
// build was configured with (web host and port, fallback server, release key).
#pragma once

#include <string>

// releaseKey: whether this program checks a signed release manifest (the launcher knows
// its own key; the tools pass BuildHasReleaseKey()).
std::string VersionText(const char* program, bool releaseKey);

// Whether the build was configured with VELGRIM_RELEASE_KEY.
bool BuildHasReleaseKey();
