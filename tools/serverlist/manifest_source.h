// serverlist --manifest FILE --pub KEY: the studio's signed release manifest, the one the
// web host publishes beside the list. It is read afresh each round (a new release brings a
// new one) and trusted only as a launcher trusts it: well formed, signed with the key,
// not expired.
#pragma once

#include <cstdint>
#include <string>

#include "platform/crypto.h"
#include "release/release_manifest.h"

class MANIFEST_SOURCE {
public:
    MANIFEST_SOURCE(const std::string& path, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE]);

    // The manifest at now (seconds since 1970), or null with the reason ("cannot be read:
    // No such file or directory", "bad signature", "expired on ..."). A manifest that was
    // good once stands in, while it has not expired, for one that cannot be read or does
    // not check now: Read then returns it with the reason set and Fresh() false.
    const RELEASE_MANIFEST* Read(int64_t now, std::string* problem);
    // Whether the last Read took the manifest read then (not the last good one).
    bool Fresh() const { return m_bFresh; }
    // Reads that did not give a manifest that checks.
    uint64_t Failures() const { return m_uFailures; }

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    uint8_t m_Key[P256_PUBLIC_KEY_SIZE];
    RELEASE_MANIFEST m_Manifest;
    RELEASE_MANIFEST m_LastGood;
    bool m_bHaveGood = false;
    bool m_bFresh = false;
    uint64_t m_uFailures = 0;
};
