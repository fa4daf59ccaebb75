#include "support/test_update_servers.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TEST_UPDATE_SERVERS::TEST_UPDATE_SERVERS(const std::string& program, const std::string& script)
    : m_strScript(script)
{
#ifdef _WIN32
    (void)program;
    const char* dir = std::getenv("VELGRIM_TEST_SERVERS");
    if (dir == nullptr || dir[0] == '\0') {
        m_strWhy = "VELGRIM_TEST_SERVERS is not set: run the Windows tests through ctest, whose fixture starts "
                   "the native update servers";
        return;
    }
    m_strUnixDir = dir;
    // Wine maps the Unix root to drive Z:.
    m_strDir = "Z:" + m_strUnixDir;
#else
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_strDir = (std::filesystem::temp_directory_path() /
                ("velgrim-servers-" + std::to_string(stamp) + "-" + std::to_string(counter++)))
                   .string();
    m_strUnixDir = m_strDir;
    const std::string command =
        "bash '" + script + "' start '" + program + "' '" + m_strDir + "' >/dev/null";
    m_bOwned = true;
    if (std::system(command.c_str()) != 0) {
        m_strWhy = "the update servers did not start (" + command + ")";
        return;
    }
#endif
    std::ifstream list(m_strDir + "/servers.txt");
    std::string name;
    unsigned short port = 0;
    while (list >> name >> port)
        m_Ports[name] = port;
    if (m_Ports.empty())
        m_strWhy = "no servers listed in " + m_strDir + "/servers.txt";
}

TEST_UPDATE_SERVERS::~TEST_UPDATE_SERVERS()
{
    if (!m_bOwned)
        return;
    const std::string command = "bash '" + m_strScript + "' stop '" + m_strDir + "'";
    if (std::system(command.c_str()) != 0) {
        // Nothing more to do: the servers stop by themselves later.
    }
    std::error_code ec;
    std::filesystem::remove_all(m_strDir, ec);
}

bool TEST_UPDATE_SERVERS::Ready(std::string* why) const
{
    *why = m_strWhy;
    return m_strWhy.empty();
}

unsigned short TEST_UPDATE_SERVERS::Port(const std::string& name) const
{
    const auto it = m_Ports.find(name);
    return it != m_Ports.end() ? it->second : 0;
}

std::string TEST_UPDATE_SERVERS::Path(const std::string& relative) const
{
    return m_strDir + "/" + relative;
}
