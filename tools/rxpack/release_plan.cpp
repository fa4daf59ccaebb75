#include "release_plan.h"

#include "pack/pack_format.h"
#include "protocol/update_protocol.h"

uint64_t PACKAGE_PLAN::Bytes() const
{
    uint64_t bytes = pack_format::kHeaderSize + uint64_t{pack_format::kEntrySize} * Entries();
    for (const auto* list : {&added, &changed})
        for (const LISTED_FILE* f : *list)
            bytes += f->name.size() + 1 + f->size;
    for (const std::string& name : removed)
        bytes += name.size() + 1;
    return bytes;
}

std::string ReleaseLimitProblem(const VERSION_LIST& next, const RELEASE_PLAN& plan)
{
    constexpr uint64_t kMaxEntry = 0xFFFFFFFFu;
    constexpr uint64_t kMaxCumulative = 0xFFFFFFFEu;
    for (const LISTED_FILE& f : next.files)
        if (f.size > kMaxEntry)
            return f.name + " is " + std::to_string(f.size) + " bytes; a package entry holds at most " +
                   std::to_string(kMaxEntry);
    const uint64_t cumulative = plan.Cumulative().Bytes();
    if (cumulative > kMaxCumulative)
        return "the cumulative package would be " + std::to_string(cumulative) +
               " bytes, above 4 GiB: it goes to launchers that do not say their version, in the plain answer "
               "whose size is 32 bits, so it may hold at most " + std::to_string(kMaxCumulative) +
               " (keep fewer old versions with --keep, or ship in smaller steps)";
    return std::string();
}

std::string PackageFileName(uint32_t base, uint32_t features)
{
    if (base == PACKAGE_BASE_CUMULATIVE)
        return PATCH_FILE_NAME;
    const char* variant = features == 0 ? "" : (features & PACKAGE_FEATURE_DELTA) != 0 ? ".delta" : ".zstd";
    return std::string("Velgrim_patch.") + (base == PACKAGE_BASE_FULL ? "full" : "from-" + std::to_string(base)) +
           variant + ".rxpack";
}

RELEASE_PLAN PlanRelease(const VERSION_LIST& next, const std::vector<const VERSION_LIST*>& kept)
{
    RELEASE_PLAN plan;
    for (const VERSION_LIST* old : kept) {
        PACKAGE_PLAN p;
        p.base = old->version;
        p.fileName = PackageFileName(p.base);
        for (const LISTED_FILE& f : next.files) {
            const LISTED_FILE* before = old->Find(f.name);
            if (before == nullptr)
                p.added.push_back(&f);
            else if (!before->SameContent(f)) {
                p.changed.push_back(&f);
                p.changedFrom.push_back(before);
            }
        }
        for (const LISTED_FILE& f : old->files)
            if (next.Find(f.name) == nullptr)
                p.removed.push_back(f.name);
        plan.packages.push_back(std::move(p));
    }
    PACKAGE_PLAN cumulative, full;
    cumulative.base = PACKAGE_BASE_CUMULATIVE;
    full.base = PACKAGE_BASE_FULL;
    for (const LISTED_FILE& f : next.files) {
        bool differs = kept.empty();
        for (const VERSION_LIST* old : kept) {
            const LISTED_FILE* before = old->Find(f.name);
            differs = differs || before == nullptr || !before->SameContent(f);
        }
        if (differs)
            cumulative.added.push_back(&f);
        full.added.push_back(&f);
    }
    for (PACKAGE_PLAN* p : {&cumulative, &full}) {
        p->fileName = PackageFileName(p->base);
        plan.packages.push_back(std::move(*p));
    }
    return plan;
}
