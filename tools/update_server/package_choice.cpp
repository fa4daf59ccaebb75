#include "update_server/package_choice.h"

#include "protocol/update_protocol.h"

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
            return {from->second, installed};
        return {release.patch, PACKAGE_BASE_CUMULATIVE};
    }
    if (release.full != nullptr)
        return {release.full, PACKAGE_BASE_FULL};
    return {release.patch, PACKAGE_BASE_CUMULATIVE};
}
