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
// "" is the current directory. Windows keeps no such step apart (each rename is written
// through), so there it only reports.
bool FlushDirectory(const std::string& dir);

// The folder a path lies in ("" for a bare name).
std::string DirectoryOf(const std::string& path);

// Folders whose entries changed, flushed together once a batch of renames is done.
class DURABLE_DIRECTORIES {
public:
    void Add(const std::string& dir) { m_Dirs.insert(dir); }
    // Flushes each once; false when any could not be flushed.
    bool Flush();

private:
    std::set<std::string> m_Dirs;
};

// Moves from over to, replacing a file there (a file another program holds is not
// replaced), and makes the move durable: written through on Windows; elsewhere both
// folders are flushed now, or added to `later` for the caller to flush.
bool RenameDurably(const char* from, const char* to, DURABLE_DIRECTORIES* later = nullptr);
