// Makes a directory the current one for the lifetime of the object.
#pragma once

#include <string>

class CURRENT_DIR {
public:
    explicit CURRENT_DIR(const std::string& path);
    ~CURRENT_DIR();
    CURRENT_DIR(const CURRENT_DIR&) = delete;
    CURRENT_DIR& operator=(const CURRENT_DIR&) = delete;

private:
    std::string m_strPrevious;
};
