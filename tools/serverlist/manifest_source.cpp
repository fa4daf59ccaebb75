#include "serverlist/manifest_source.h"

#include <cerrno>
#include <cstring>

#include "release/signed_manifest.h"

MANIFEST_SOURCE::MANIFEST_SOURCE(const std::string& path, const uint8_t publicKey[P256_PUBLIC_KEY_SIZE])
    : m_strPath(path)
{
    std::memcpy(m_Key, publicKey, sizeof(m_Key));
}

const RELEASE_MANIFEST* MANIFEST_SOURCE::Read(int64_t now, std::string* problem)
{
    std::string text;
    m_bFresh = false;
    errno = 0;
    if (!ReadManifestFile(m_strPath, &text)) {
        *problem = std::string("cannot be read: ") + (errno != 0 ? std::strerror(errno) : "a read error");
    } else if (AcceptReleaseManifest(text.data(), text.size(), m_Key, now, &m_Manifest, problem)) {
        m_LastGood = m_Manifest;
        m_bHaveGood = true;
        m_bFresh = true;
        return &m_LastGood;
    }
    ++m_uFailures;
    // A file being replaced, or a mistake in the new one, does not undo what the studio
    // signed before: the last good manifest holds until it expires.
    if (m_bHaveGood && (!m_LastGood.hasExpiry || now < m_LastGood.expires))
        return &m_LastGood;
    return nullptr;
}
