#include "launcher/version_file.h"

#include <cstdio>
#include <fstream>

#include "platform/files.h"

uint32_t g_localVersion = 0;

namespace {

const char kVersionFile[] = "version.txt";
const char kVersionTemp[] = "version.txt.new";

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
    std::FILE* f = std::fopen(kVersionTemp, "w");
    if (f == nullptr)
        return false;
    const bool written = std::fprintf(f, "%u", static_cast<unsigned int>(g_localVersion)) > 0;
    const bool flushed = std::fflush(f) == 0;
    const bool closed = std::fclose(f) == 0;
    if (!(written && flushed && closed) || !MoveFileExA(kVersionTemp, kVersionFile, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(kVersionTemp);
        return false;
    }
    return true;
}
