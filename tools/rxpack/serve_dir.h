// The release directory update-server serves, DIR/serve, replaced whole: the next one is
// written as DIR/serve.new-<pid> and put in place by one rename (on Linux an exchange of
// the two names), so a server that reloads mid-write sees the old release or the new one,
// never half of either.
#pragma once

#include <string>

class SERVE_DIR {
public:
    explicit SERVE_DIR(const std::string& storeDir);
    // Removes the new directory unless it was published.
    ~SERVE_DIR();
    SERVE_DIR(const SERVE_DIR&) = delete;
    SERVE_DIR& operator=(const SERVE_DIR&) = delete;

    // Creates the new directory (empty).
    bool Begin(std::string* error);
    // Where the new release is written until it is published.
    const std::string& NewPath() const { return m_strNew; }
    const std::string& Path() const { return m_strServe; }
    // Puts the new directory in place of DIR/serve and removes the old one.
    bool Publish(std::string* error);

private:
    std::string m_strServe;
    std::string m_strNew;
    bool m_bPending = false;
};
