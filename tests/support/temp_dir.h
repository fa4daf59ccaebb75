// A fresh temporary directory, removed with everything in it at the end of the scope.
#pragma once

#include <string>

class TEMP_DIR {
public:
    TEMP_DIR();
    ~TEMP_DIR();
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path of a name inside the directory ("/" separated).
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

// Whole-file helpers for tests.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool ReadWholeFile(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);
