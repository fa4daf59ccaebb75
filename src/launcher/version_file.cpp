#include "launcher/version_file.h"

#include <fstream>
#include <string>

#include "platform/replacing_file.h"
#include "protocol/own_names.h"

uint32_t g_localVersion = 0;

namespace {

const char* const kVersionFile = VERSION_FILE_NAME;
const char kVersionTempSuffix[] = ".new";

} // namespace

void ReadLocalVersion()
{
    std::ifstream in(kVersionFile);
    if (!in.is_open())
        return;
    in >> g_localVersion;
}

bool WriteLocalVersion()
{
    const std::string digits = std::to_string(g_localVersion);
    REPLACING_FILE out(kVersionFile, kVersionTempSuffix);
    return out.Create() && out.Write(digits.data(), digits.size()) && out.Commit();
}
