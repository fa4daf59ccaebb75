#include "common/build_info.h"

#include "velgrim_build.h"
#include "velgrim_config.h"

std::string VersionText(const char* program, bool releaseKey)
{
    std::string text = std::string(program) + " " + VELGRIM_BUILD_VERSION +
                       (VELGRIM_BUILD_SHIPPING ? " (shipping build)\n" : " (test build)\n");
    text += "web host: " + std::string(VELGRIM_WEB_HOST) + ":" + std::to_string(VELGRIM_WEB_PORT) + "\n";
    text += "fallback server: " + std::string(VELGRIM_FALLBACK_SERVER) + "\n";
    text += std::string("release key: ") + (releaseKey ? "present (signed releases only)" : "none") + "\n";
    return text;
}

bool BuildHasReleaseKey()
{
    return VELGRIM_BUILD_RELEASE_KEY != 0;
}
