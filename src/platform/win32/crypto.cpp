#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

namespace {

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

// BCryptHashData counts in 32 bits.
constexpr size_t kMaxHashPiece = 1u << 30;

} // namespace

SHA256_STREAM::SHA256_STREAM() : m_pState(nullptr), m_pAlgorithm(nullptr), m_bFailed(false)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        m_bFailed = true;
        return;
    }
    m_pAlgorithm = algorithm;
    if (!Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        m_bFailed = true;
        return;
    }
    m_pState = hash;
}

SHA256_STREAM::~SHA256_STREAM()
{
    Release();
}

void SHA256_STREAM::Release()
{
    if (m_pState != nullptr)
        BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_pState));
    if (m_pAlgorithm != nullptr)
        BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_pAlgorithm), 0);
    m_pState = nullptr;
    m_pAlgorithm = nullptr;
}

bool SHA256_STREAM::Update(const void* data, size_t size)
{
    if (m_bFailed || m_pState == nullptr)
        return false;
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (size != 0) {
        const ULONG piece = static_cast<ULONG>(size < kMaxHashPiece ? size : kMaxHashPiece);
        BCRYPT_HASH_HANDLE hash = static_cast<BCRYPT_HASH_HANDLE>(m_pState);
        if (!Succeeded(BCryptHashData(hash, const_cast<UCHAR*>(bytes), piece, 0))) {
            m_bFailed = true;
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool SHA256_STREAM::Final(uint8_t digest[SHA256_DIGEST_SIZE])
{
    if (m_bFailed || m_pState == nullptr)
        return false;
    const bool ok = Succeeded(
        BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_pState), digest, static_cast<ULONG>(SHA256_DIGEST_SIZE), 0));
    Release();
    return ok;
}

bool Sha256(const void* data, size_t size, uint8_t digest[SHA256_DIGEST_SIZE])
{
    SHA256_STREAM hash;
    return hash.Update(data, size) && hash.Final(digest);
}

bool VerifyP256Sha256(const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], const void* message, size_t size,
                      const uint8_t signature[P256_SIGNATURE_SIZE])
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    if (!Sha256(message, size, digest))
        return false;

    // BCRYPT_ECCKEY_BLOB followed by X and Y.
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + P256_PUBLIC_KEY_SIZE];
    BCRYPT_ECCKEY_BLOB header;
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = static_cast<ULONG>(P256_PUBLIC_KEY_SIZE / 2);
    std::memcpy(blob, &header, sizeof(header));
    std::memcpy(blob + sizeof(header), publicKey, P256_PUBLIC_KEY_SIZE);

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    bool valid = false;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (Succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                      static_cast<ULONG>(sizeof(blob)), 0))) {
        UCHAR sig[P256_SIGNATURE_SIZE];
        std::memcpy(sig, signature, sizeof(sig));
        valid = BCryptVerifySignature(key, nullptr, digest, static_cast<ULONG>(sizeof(digest)), sig,
                                      static_cast<ULONG>(sizeof(sig)), 0) == 0;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}
