// One launcher at a time per game directory: a lock file held open exclusively while a
// launcher works there. The system lets it go when the process ends, however it ends.
#pragma once

#include "platform/file_handle.h"
#include "protocol/own_names.h"

class DIRECTORY_LOCK {
public:
    static constexpr const char* kFileName = LOCK_FILE_NAME;
    // How long a launcher waits for another one in the same directory.
    static constexpr unsigned int kWaitMs = 60000;
    static constexpr unsigned int kPollMs = 100;

    enum RESULT {
        TAKEN,     // this launcher holds it
        HELD,      // another launcher holds it
        UNAVAILABLE // it cannot be had at all: a read-only folder, a file left by an
                    // elevated run, a share without locks; nothing could be written here
    };

    // Takes the lock of the current directory if no other launcher holds it.
    RESULT TryTake();
    // Waits (sleeping in steps of kPollMs through sleep) while another launcher holds the
    // lock, at most timeoutMs. TAKEN when this launcher then holds it.
    RESULT WaitAndTake(unsigned int timeoutMs, void (*sleep)(unsigned int ms));
    // Lets it go (before another program is started, which must be able to take it).
    void Release() { m_File.Close(); }
    bool Held() const { return m_File.Valid(); }
    // The system error of the last attempt that failed.
    DWORD Error() const { return m_uError; }

private:
    FILE_HANDLE m_File;
    DWORD m_uError = 0;
};
