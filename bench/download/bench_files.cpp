#include "bench_files.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

bool WriteFileBytes(const std::string& path, const char* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::string ReadText(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

std::string MakeContent(size_t bytes, unsigned seed)
{
    std::string content(bytes, '\0');
    std::mt19937_64 random(seed);
    for (size_t i = 48; i + 8 <= bytes; i += 8) {
        const uint64_t v = random();
        std::memcpy(&content[i], &v, 8);
    }
    return content;
}

bool MakeRelease(const std::string& dir, const std::string& patch)
{
    mkdir(dir.c_str(), 0755);
    const std::string conf = "game_version = 2\n";
    return WriteFileBytes(dir + "/release.conf", conf.data(), conf.size()) &&
           WriteFileBytes(dir + "/Velgrim_patch.rxpack", patch.data(), patch.size());
}

double MBps(uint64_t bytes, uint64_t ms)
{
    return ms > 0 ? static_cast<double>(bytes) / 1e6 / (static_cast<double>(ms) / 1000.0) : 0.0;
}
