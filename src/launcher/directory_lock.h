// One launcher at a time per game directory: a lock file held open exclusively while a
// launcher works there. The system lets it go when the process ends, however it ends.
#pragma once

#include "platform/file_handle.h"

class DIRECTORY_LOCK {
public:
    static constexpr const char* kFileName = "velgrim_update.lock";
    // How long a launcher waits for another one in the same directory.
    static constexpr unsigned int kWaitMs = 60000;
    static constexpr unsigned int kPollMs = 100;

    // Takes the lock of the current directory if no other launcher holds it.
    bool TryTake();
    // Waits (sleeping in steps of kPollMs through sleep) until the lock is free, at most
    // timeoutMs. True when this launcher then holds it.
    bool WaitAndTake(unsigned int timeoutMs, void (*sleep)(unsigned int ms));
    // Lets it go (before another program is started, which must be able to take it).
    void Release() { m_File.Close(); }
    bool Held() const { return m_File.Valid(); }

private:
    FILE_HANDLE m_File;
};
