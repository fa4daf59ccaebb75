// The update servers of update_server_fixture.sh as the downloader tests reach them.
// Natively the tests start them (and stop them at the end); the Windows test binary,
// running under Wine, uses the native servers that a ctest fixture started, named by the
// environment variable VELGRIM_TEST_SERVERS (their directory).
#pragma once

#include <map>
#include <string>

class TEST_UPDATE_SERVERS {
public:
    // program: the native update-server (used natively only); script: the fixture script.
    TEST_UPDATE_SERVERS(const std::string& program, const std::string& script);
    ~TEST_UPDATE_SERVERS();
    TEST_UPDATE_SERVERS(const TEST_UPDATE_SERVERS&) = delete;
    TEST_UPDATE_SERVERS& operator=(const TEST_UPDATE_SERVERS&) = delete;

    // False (with the reason) when the servers are not there.
    bool Ready(std::string* why) const;
    unsigned short Port(const std::string& name) const;
    // A path inside the servers' directory, as this process opens it.
    std::string Path(const std::string& relative) const;

private:
    std::string m_strDir;     // as this process names it
    std::string m_strUnixDir; // as the servers name it
    std::string m_strScript;
    bool m_bOwned = false;
    std::string m_strWhy;
    std::map<std::string, unsigned short> m_Ports;
};
