// What `rxpack release` does, told to a person (text) or to CI (JSON, one object):
// the version, the updater it offers, and for each package its base, file, bytes and the
// files added, changed and removed.
#pragma once

#include <string>
#include <vector>

#include "release_plan.h"
#include "release_writer.h"

struct RELEASE_FACTS {
    const VERSION_LIST* next = nullptr;
    const RELEASE_PLAN* plan = nullptr;
    std::string store;
    bool dryRun = false;
    bool newUpdater = false;       // given with --updater (else kept from the last release)
    std::vector<std::string> signedFiles; // the manifests written, when signed
    std::vector<std::string> cdnObjects;  // the serve dir's files new in STORE/cdn/objects
    std::vector<PACKAGE_VARIANT> variants; // written beside the plain packages
};

std::string ReportText(const RELEASE_FACTS& facts);
std::string ReportJson(const RELEASE_FACTS& facts);
