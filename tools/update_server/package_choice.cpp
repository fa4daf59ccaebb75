#include "update_server/package_choice.h"

#include "protocol/update_protocol.h"

namespace {

// The best variant of the package made from base that the features allow, or null.
std::shared_ptr<const RELEASE_FILE> BestVariant(const RELEASE& release, uint32_t base, uint32_t features)
{
    for (const uint32_t variant : {PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA, PACKAGE_FEATURE_ZSTD}) {
        if ((features & variant) != variant)
            continue;
        std::shared_ptr<const RELEASE_FILE> file = release.Variant(base, variant);
        if (file != nullptr && (file->flags & ~features) == 0)
            return file;
    }
    return nullptr;
}

PACKAGE_CHOICE Chosen(const RELEASE& release, std::shared_ptr<const RELEASE_FILE> plain, uint32_t base,
                      uint32_t features)
{
    std::shared_ptr<const RELEASE_FILE> variant = BestVariant(release, base, features);
    std::shared_ptr<const RELEASE_FILE> file = variant != nullptr ? variant : plain;
    return {file, base, file != nullptr ? file->flags : 0};
}

} // namespace

PACKAGE_CHOICE ChoosePackage(const RELEASE& release, int kind, uint32_t installed, uint32_t features)
{
    if (kind == FILE_KIND_UPDATER)
        return {release.updater, PACKAGE_BASE_FULL};
    if (kind != FILE_KIND_PATCH)
        return {};
    // Installed version 0 is unknown: no package is made from it.
    const auto from = installed != 0 ? release.from.find(installed) : release.from.end();
    if (from != release.from.end()) {
        if ((features & PACKAGE_FEATURE_REMOVALS) != 0 || !from->second->flagged)
            return Chosen(release, from->second, installed, features);
        return Chosen(release, release.patch, PACKAGE_BASE_CUMULATIVE, features);
    }
    if (release.full != nullptr)
        return Chosen(release, release.full, PACKAGE_BASE_FULL, features);
    return Chosen(release, release.patch, PACKAGE_BASE_CUMULATIVE, features);
}
