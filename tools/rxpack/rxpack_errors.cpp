#include "rxpack_errors.h"

#include <cstdio>

void PrintError(const std::string& text)
{
    std::fprintf(stderr, "rxpack: %s\n", text.c_str());
}

int UsageError(const std::string& text)
{
    PrintError(text);
    std::fprintf(stderr, "Try 'rxpack --help'.\n");
    return kExitUsage;
}
