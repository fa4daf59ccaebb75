#include "support/nginx_fixture.h"

#include <cstdlib>
#include <fstream>
#include <string>

int NginxFixturePort()
{
    const char* dir = std::getenv("VELGRIM_NGINX_DIR");
    if (dir == nullptr || dir[0] == '\0')
        return 0;
    std::string path = std::string(dir) + "/port";
#ifdef _WIN32
    // A Unix path seen from Wine: its drive Z: is the Unix root.
    if (path[0] == '/')
        path = "Z:" + path;
#endif
    std::ifstream in(path);
    int port = 0;
    if (!(in >> port))
        return 0;
    return port;
}
