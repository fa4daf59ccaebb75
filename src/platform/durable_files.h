// Changes to files that survive a power cut, made durable in the order a caller needs:
// content before the name that publishes it, a rename before what depends on it.
//
//     FlushFile(h, path);                       the file's bytes and size are on the disk
//     RenameDurably(from, to);                  the new name is on the disk
//     DURABLE_DIRECTORIES dirs;                 many renames, their folders flushed once:
//     RenameDurably(a, b, &dirs); ...; dirs.Flush();
#pragma once

#include <set>
#include <string>

#include "platform/files.h"

// Each durability step as it is taken: ("flush", file), ("flushdir", directory),
// ("rename", target). Null in the product; tests record the order.
typedef void (*DURABLE_STEP_OBSERVER)(const char* step, const char* path);
extern DURABLE_STEP_OBSERVER g_durableStepObserver;
// Tells the observer, if any, of a step.
void ReportDurableStep(const char* step, const char* path);

// The open file's content and size reach the disk. path names it, for the observer.
bool FlushFile(HANDLE file, const char* path);

// Asks the system to start writing the open file's content out now, without waiting, so
// that a FlushFile later has less to wait for (many files written, then flushed).
void StartWritingOut(HANDLE file);

// The entries of directory dir (names made, renamed or removed there) reach the disk;
// "" is the current directory. On Windows the folder is opened with backup semantics and
// flushed; a file system that cannot flush a folder (FAT32, exFAT refuse the call) keeps
// its entries as durable as it can, which is not an error.
bool FlushDirectory(const std::string& dir);

// Everything written on the file system that holds dir reaches the disk in one call
// (syncfs), files and folders alike. False when the platform has no such call (Windows)
// or it failed: the caller then flushes each file and folder.
bool FlushFileSystem(const std::string& dir);
// True where FlushFileSystem is the way (POSIX): files need only be started on their way
// out as they are written.
bool FlushesWholeFileSystem();

// The folder a path lies in ("" for a bare name).
std::string DirectoryOf(const std::string& path);

// Files written and folders whose entries changed, made durable together once a batch is
// done: one flush of the whole file system where the platform has it (so ten thousand
// small files cost one call, not ten thousand), else each file and folder once.
class DURABLE_DIRECTORIES {
public:
    void Add(const std::string& dir) { m_Dirs.insert(dir); }
    // A file written (and closed) whose content must be on the disk too.
    void AddFile(const std::string& path) { m_Files.insert(path); }
    // False when any could not be flushed.
    bool Flush();

private:
    std::set<std::string> m_Dirs;
    std::set<std::string> m_Files;
};

// Moves from over to, replacing a file there (a file another program holds is not
// replaced), and makes the move durable: written through on Windows; elsewhere both
// folders are flushed now, or added to `later` for the caller to flush.
bool RenameDurably(const char* from, const char* to, DURABLE_DIRECTORIES* later = nullptr);
