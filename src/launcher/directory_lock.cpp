#include "launcher/directory_lock.h"

#include "platform/links.h"

DIRECTORY_LOCK::RESULT DIRECTORY_LOCK::TryTake()
{
    if (Held())
        return TAKEN;
    m_File.Reset(OpenOwnFile(kFileName, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS));
    if (Held())
        return TAKEN;
    m_uError = GetLastError();
    // Only a file another process holds open means another launcher.
    return m_uError == ERROR_SHARING_VIOLATION ? HELD : UNAVAILABLE;
}

DIRECTORY_LOCK::RESULT DIRECTORY_LOCK::WaitAndTake(unsigned int timeoutMs, void (*sleep)(unsigned int ms))
{
    for (unsigned int waited = 0;; waited += kPollMs) {
        const RESULT result = TryTake();
        if (result != HELD || waited >= timeoutMs)
            return result;
        sleep(kPollMs);
    }
}
