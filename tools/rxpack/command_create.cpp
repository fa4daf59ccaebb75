#include <cstdio>

#include "pack/pack_writer.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"

int CommandCreate(const ARGS& args)
{
    if (args.size() != 2)
        return UsageError("create takes OUT.rxpack and DIR");
    const std::string& out = args[0];
    const std::string& dir = args[1];
    PACK_WRITER writer;
    std::string error;
    if (!writer.AddTree(dir, out, &error) || !writer.Write(out, &error)) {
        PrintError(error);
        return kExitFailed;
    }
    std::printf("%s: %zu files, %llu bytes\n", out.c_str(), writer.Count(),
                static_cast<unsigned long long>(writer.ContentBytes()));
    return kExitOk;
}
