#include "launcher/directory_lock.h"

bool DIRECTORY_LOCK::TryTake()
{
    if (Held())
        return true;
    m_File.Reset(CreateFileA(kFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    return Held();
}

bool DIRECTORY_LOCK::WaitAndTake(unsigned int timeoutMs, void (*sleep)(unsigned int ms))
{
    for (unsigned int waited = 0;; waited += kPollMs) {
        if (TryTake())
            return true;
        if (waited >= timeoutMs)
            return false;
        sleep(kPollMs);
    }
}
