// The names the launcher keeps for itself in the game directory. A package entry may
// never name one: the launcher could not replace it (itself, its lock), would lose it
// at once (the version, the package, its temporary files) or would write into its own
// staging area. rxpack does not pack such an entry and update-server does not serve it.
#pragma once

#include <string>

constexpr const char UPDATER_EXE_NAME[] = "Updater.exe";
constexpr const char VERSION_FILE_NAME[] = "version.txt";
constexpr const char LOCK_FILE_NAME[] = "velgrim_update.lock";
constexpr const char STAGING_DIR_NAME[] = ".velgrim-update";

// True when the relative name (parts separated by '\' or '/', "." parts ignored) is one
// of the launcher's own names or lies below its staging area, compared without regard
// to case as Windows compares names, or when any part has the shape of a short (8.3)
// alias (VERSIO~1.TXT, VELGRI~1), which Windows may resolve to one of them.
bool IsOwnName(const char* name);

// An 8.3 alias: at most eight characters ending in '~' and digits, then at most one dot
// and three characters.
bool IsShortAlias(const std::string& part);
