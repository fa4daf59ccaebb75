#include "support/current_dir.h"

#include <filesystem>

CURRENT_DIR::CURRENT_DIR(const std::string& path) : m_strPrevious(std::filesystem::current_path().string())
{
    std::filesystem::current_path(path);
}

CURRENT_DIR::~CURRENT_DIR()
{
    std::error_code ec;
    std::filesystem::current_path(m_strPrevious, ec);
}
