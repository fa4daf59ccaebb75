// The names the launcher keeps for itself in the game directory. A package entry may
// never name one: the launcher could not replace it (itself, its lock), would lose it
// at once (the version, the package, its temporary files) or would write into its own
// staging area. rxpack does not pack such an entry and update-server does not serve it.
#pragma once

constexpr const char UPDATER_EXE_NAME[] = "Updater.exe";
constexpr const char VERSION_FILE_NAME[] = "version.txt";
constexpr const char LOCK_FILE_NAME[] = "velgrim_update.lock";
constexpr const char STAGING_DIR_NAME[] = ".velgrim-update";

// True when the relative name (parts separated by '\' or '/', "." parts ignored) is one
// of the launcher's own names or lies below its staging area, compared without regard
// to case as Windows compares names.
bool IsOwnName(const char* name);
