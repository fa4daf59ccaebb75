// Which file a package request gets: the package made from the launcher's installed
// version when there is one it can apply, else the cumulative or the full package.
//
//   from-V exists, and the launcher understands removals or from-V has none -> from-V (base V)
//   from-V exists, it has removals the launcher does not understand          -> cumulative
//   no from-V, a full package exists                                        -> full
//   otherwise                                                               -> cumulative
//
// Where the chosen from-V or full package has variants, the launcher gets the best one it
// can apply: the delta variant when it asked for ZSTD and DELTA, else the zstd one when it
// asked for ZSTD; never one whose header needs a feature it did not ask for.
//
// The cumulative package applies correctly to every kept version; the full one to any
// version at all, so a version the release does not know gets it. The updater kind gets
// the updater (base FULL).
#pragma once

#include <cstdint>
#include <memory>

#include "update_server/release.h"

struct PACKAGE_CHOICE {
    std::shared_ptr<const RELEASE_FILE> file; // null: the kind is not offered
    uint32_t base = 0;
    uint32_t features = 0; // the file's header flags: the PACKAGE_FEATURE_* it needs
};

PACKAGE_CHOICE ChoosePackage(const RELEASE& release, int kind, uint32_t installed, uint32_t features);
