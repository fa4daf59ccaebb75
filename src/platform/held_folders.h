// The game's folders reached one part at a time through handles held open, never through
// a link: a folder swapped for a link between a look and a use is not entered. POSIX works
// relative to the handles (openat with O_NOFOLLOW, mkdirat, renameat); Windows, which has
// no such calls in its file API, checks each part for a link right before each use and
// writes each move through.
//
//     HELD_FOLDERS game(dir);
//     game.MoveIn(".velgrim-update/files/a/b.txt", "a/b.txt");   folders made as needed
//     game.MoveOut("old.map", ".velgrim-update/removed/old.map");
//     game.Flush();                                               the changed folders
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/files.h"

class HELD_FOLDERS {
public:
    enum RESULT {
        DONE,
        LINK,   // a link (or a file) where a folder of the name must be, or a link at the name
        FAILED, // GetLastError() says why; a file another program holds is a sharing violation
    };

    // root: the folder names are below ("" is the current directory); it may be a link.
    explicit HELD_FOLDERS(const std::string& root);
    ~HELD_FOLDERS();
    HELD_FOLDERS(const HELD_FOLDERS&) = delete;
    HELD_FOLDERS& operator=(const HELD_FOLDERS&) = delete;

    // Moves the file at path `from` (outside the held tree) to `name`, replacing a file
    // there (not one another program holds open), and making the folders on the way.
    RESULT MoveIn(const std::string& from, const std::string& name);
    // Moves what is at `name` itself (a link is moved, never followed) to path `to`.
    // DONE with *absent when nothing is there.
    RESULT MoveOut(const std::string& name, const std::string& to, bool* absent);
    // The folders whose entries the moves changed reach the disk.
    bool Flush();

private:
    // The folder of name (its parts before the last), opened part by part; made when make.
    RESULT Folder(const std::string& name, bool make, int* folder, std::string* leaf);
    std::string PathOf(const std::string& folder) const;

    std::string m_strRoot;
    // Relative folder ("" for the root) to its handle (POSIX), or to 0 (Windows).
    std::map<std::string, int> m_Folders;
    std::set<std::string> m_Changed;
};
