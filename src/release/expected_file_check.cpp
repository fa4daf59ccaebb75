#include "release/expected_file_check.h"

#include <cstring>

EXPECTED_FILE_CHECK::EXPECTED_FILE_CHECK(const MANIFEST_FILE& expected)
{
    m_Expected.size = expected.size;
    std::memcpy(m_Expected.sha256, expected.sha256, sizeof(m_Expected.sha256));
}

EXPECTED_FILE_CHECK::EXPECTED_FILE_CHECK(const MANIFEST_PACKAGE& expected) : m_Expected(expected) {}

bool EXPECTED_FILE_CHECK::Feed(const void* data, size_t size)
{
    m_uReceived += size;
    if (m_uReceived > m_Expected.size)
        return false;
    if (!m_bHashFailed && !m_Hash.Update(data, size))
        m_bHashFailed = true;
    return !m_bHashFailed;
}

bool EXPECTED_FILE_CHECK::Finish(std::string* problem)
{
    if (m_uReceived != m_Expected.size) {
        *problem = std::to_string(m_uReceived) + " bytes instead of " + std::to_string(m_Expected.size);
        return false;
    }
    uint8_t digest[SHA256_DIGEST_SIZE];
    if (m_bHashFailed || !m_Hash.Final(digest)) {
        *problem = "the SHA-256 cannot be computed";
        return false;
    }
    if (std::memcmp(digest, m_Expected.sha256, sizeof(digest)) != 0) {
        *problem = "SHA-256 differs";
        return false;
    }
    return true;
}
