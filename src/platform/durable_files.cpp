#include "platform/durable_files.h"

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
    for (const std::string& dir : m_Dirs)
        all = FlushDirectory(dir) && all;
    m_Dirs.clear();
    return all;
}
