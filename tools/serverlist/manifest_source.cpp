#include "serverlist/manifest_source.h"

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
    if (!ReadManifestFile(m_strPath, &text)) {
        *problem = "cannot be read";
        return nullptr;
    }
    if (!AcceptReleaseManifest(text.data(), text.size(), m_Key, now, &m_Manifest, problem))
        return nullptr;
    return &m_Manifest;
}
