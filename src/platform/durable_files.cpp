#include "platform/durable_files.h"

#include "platform/file_handle.h"

DURABLE_STEP_OBSERVER g_durableStepObserver = nullptr;

void ReportDurableStep(const char* step, const char* path)
{
    if (g_durableStepObserver != nullptr)
        g_durableStepObserver(step, path);
}

bool FlushFile(HANDLE file, const char* path)
{
    ReportDurableStep("flush", path);
    return FlushFileBuffers(file) != FALSE;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool DURABLE_DIRECTORIES::Flush()
{
    bool all = true;
    const std::string anchor = !m_Dirs.empty()    ? *m_Dirs.begin()
                               : !m_Files.empty() ? DirectoryOf(*m_Files.begin())
                                                  : std::string();
    if ((m_Dirs.empty() && m_Files.empty()) || !FlushFileSystem(anchor)) {
        for (const std::string& path : m_Files) {
            FILE_HANDLE file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            all = file.Valid() && FlushFile(file.Get(), path.c_str()) && file.Close() && all;
        }
        for (const std::string& dir : m_Dirs)
            all = FlushDirectory(dir) && all;
    }
    m_Dirs.clear();
    m_Files.clear();
    return all;
}
