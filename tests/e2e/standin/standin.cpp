// The stand-in for the game in end-to-end runs, built for both targets.
//
//   velgrim_standin [args...]           records its start: one line in game-started.txt
//                                       of the current directory: argv[0], then each argument
//   velgrim_standin --hold PATH SECONDS opens PATH for reading with others allowed to read
//                                       only (so nobody can replace it), writes PATH.held,
//                                       and lets go after SECONDS or once PATH.release exists
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/files.h"

namespace {

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int Hold(const char* path, int seconds)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "standin: cannot hold %s (error %lu)\n", path, static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    const std::string held = std::string(path) + ".held";
    const std::string release = std::string(path) + ".release";
    if (FILE* f = std::fopen(held.c_str(), "w"))
        std::fclose(f);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && !Exists(release))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseHandle(h);
    std::remove(held.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(argv[2], std::atoi(argv[3]));
    FILE* f = std::fopen("game-started.txt", "a");
    if (f == nullptr)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fprintf(f, "%s%s", i ? "|" : "", argv[i]);
    std::fprintf(f, "\n");
    std::fclose(f);
    return 0;
}
