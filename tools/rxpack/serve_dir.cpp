#include "serve_dir.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/durable_files.h"
#include "platform/process.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#endif

namespace fs = std::filesystem;

SERVE_DIR::SERVE_DIR(const std::string& storeDir)
    : m_strServe(storeDir + "/serve"), m_strNew(storeDir + "/serve.new-" + std::to_string(CurrentProcessId()))
{
}

SERVE_DIR::~SERVE_DIR()
{
    std::error_code ec;
    if (m_bPending)
        fs::remove_all(m_strNew, ec);
}

bool SERVE_DIR::Begin(std::string* error)
{
    std::error_code ec;
    fs::remove_all(m_strNew, ec); // a leftover of a run that had this process id
    if (ec || !fs::create_directory(m_strNew, ec)) {
        *error = "cannot create " + m_strNew + (ec ? ": " + ec.message() : "");
        return false;
    }
    m_bPending = true;
    return true;
}

bool SERVE_DIR::Publish(std::string* error)
{
    std::error_code ec;
    const bool replacing = fs::exists(m_strServe, ec);
    if (replacing && !fs::is_directory(m_strServe, ec)) {
        *error = m_strServe + " is not a directory";
        return false;
    }
    if (!FlushDirectory(m_strNew)) {
        *error = "cannot flush " + m_strNew;
        return false;
    }
    std::string old;
    if (!replacing) {
        fs::rename(m_strNew, m_strServe, ec);
    } else {
#ifndef _WIN32
        // One step: the two names trade places, the old release now under the new one's name.
        if (renameat2(AT_FDCWD, m_strNew.c_str(), AT_FDCWD, m_strServe.c_str(), RENAME_EXCHANGE) == 0) {
            old = m_strNew;
        } else if (errno != EINVAL && errno != ENOSYS) {
            ec = std::error_code(errno, std::generic_category());
        }
#endif
        if (old.empty() && !ec) {
            // No exchange here: the old one steps aside first, for as short a time as two renames take.
            old = m_strServe + ".old-" + std::to_string(CurrentProcessId());
            fs::remove_all(old, ec);
            fs::rename(m_strServe, old, ec);
            if (!ec) {
                fs::rename(m_strNew, m_strServe, ec);
                if (ec) {
                    std::error_code back;
                    fs::rename(old, m_strServe, back);
                }
            }
        }
    }
    if (ec) {
        *error = "cannot put " + m_strNew + " in place of " + m_strServe + ": " + ec.message();
        return false;
    }
    m_bPending = false;
    if (!FlushDirectory(DirectoryOf(m_strServe))) {
        *error = "cannot flush the folder of " + m_strServe;
        return false;
    }
    if (!old.empty())
        fs::remove_all(old, ec); // what is left of it serves no one now
    return true;
}
