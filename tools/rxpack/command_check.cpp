#include <cstdio>

#include "pack/pack_checker.h"
#include "pack/pack_index.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"

int CommandCheck(const ARGS& args)
{
    if (args.size() != 1)
        return UsageError("check takes PKG");
    std::string problem;
    if (!CheckPackage(args[0], &problem)) {
        PrintError(args[0] + ": " + problem);
        return kExitFailed;
    }
    PACK_INDEX index;
    index.Load(args[0], &problem);
    std::printf("%s: OK, %zu files\n", args[0].c_str(), index.m_Entries.size());
    return kExitOk;
}
