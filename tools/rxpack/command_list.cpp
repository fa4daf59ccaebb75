#include <cstdio>

#include "pack/pack_format.h"
#include "pack/pack_index.h"
#include "rxpack_commands.h"
#include "rxpack_errors.h"

int CommandList(const ARGS& args)
{
    if (args.size() != 1)
        return UsageError("list takes PKG");
    PACK_INDEX index;
    std::string error;
    if (!index.Load(args[0], &error)) {
        PrintError(args[0] + ": " + error);
        return kExitFailed;
    }
    int status = kExitOk;
    for (size_t i = 0; i < index.m_Entries.size(); ++i) {
        const PACK_INDEX_ENTRY& e = index.m_Entries[i];
        if (!e.nameInBlock) {
            PrintError(args[0] + ": entry " + std::to_string(i) + ": name outside the name block");
            status = kExitFailed;
            continue;
        }
        std::printf("%s\t%lu\t%llu", e.name.c_str(), static_cast<unsigned long>(e.dataSize),
                    static_cast<unsigned long long>(e.dataOffset));
        // A compressed entry says so, and what it decodes to.
        if (index.HasMagic() && e.kind == pack_format::kEntryKindZstd)
            std::printf("\tzstd\t%lu", static_cast<unsigned long>(e.decodedSize));
        // A delta says its kind and what it makes.
        if (index.HasMagic() && (e.kind == pack_format::kEntryKindDeltaZstd || e.kind == pack_format::kEntryKindDeltaDiff))
            std::printf("\t%s\t%lu", e.kind == pack_format::kEntryKindDeltaZstd ? "patch-from" : "difference",
                        static_cast<unsigned long>(e.decodedSize));
        std::printf("\n");
    }
    return status;
}
