// Built into the signed test launcher only: VELGRIM_TEST_MIRROR_CA names the PEM authority
// the mirrors' certificates are checked with instead of the system's roots, so that the
// tests' own authority is trusted by that launcher alone, never by the machine.
#include <cstdlib>

#include "launcher/update_session.h"

namespace {

struct INSTALL {
    INSTALL()
    {
        const char* ca = std::getenv("VELGRIM_TEST_MIRROR_CA");
        if (ca != nullptr && *ca != '\0')
            g_mirrorCaFile = ca;
    }
} g_install;

} // namespace
