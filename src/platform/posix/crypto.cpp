#include "platform/crypto.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>

SHA256_STREAM::SHA256_STREAM()
    : m_pState(EVP_MD_CTX_new()), m_pAlgorithm(EVP_MD_fetch(nullptr, "SHA256", nullptr)), m_bFailed(false)
{
    EVP_MD_CTX* ctx = static_cast<EVP_MD_CTX*>(m_pState);
    if (ctx == nullptr || m_pAlgorithm == nullptr ||
        EVP_DigestInit_ex(ctx, static_cast<EVP_MD*>(m_pAlgorithm), nullptr) != 1)
        m_bFailed = true;
}

SHA256_STREAM::~SHA256_STREAM()
{
    Release();
}

void SHA256_STREAM::Release()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_pState));
    EVP_MD_free(static_cast<EVP_MD*>(m_pAlgorithm));
    m_pState = nullptr;
    m_pAlgorithm = nullptr;
}

bool SHA256_STREAM::Update(const void* data, size_t size)
{
    if (m_bFailed || m_pState == nullptr)
        return false;
    if (size != 0 && EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_pState), data, size) != 1)
        m_bFailed = true;
    return !m_bFailed;
}

bool SHA256_STREAM::Final(uint8_t digest[SHA256_DIGEST_SIZE])
{
    if (m_bFailed || m_pState == nullptr)
        return false;
    unsigned int length = 0;
    const bool ok = EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_pState), digest, &length) == 1 &&
                    length == SHA256_DIGEST_SIZE;
    Release();
    return ok;
}

bool Sha256(const void* data, size_t size, uint8_t digest[SHA256_DIGEST_SIZE])
{
    SHA256_STREAM hash;
    return hash.Update(data, size) && hash.Final(digest);
}

namespace {

// The raw point as a libcrypto key; null when it is not on the curve.
EVP_PKEY* ImportP256PublicKey(const uint8_t publicKey[P256_PUBLIC_KEY_SIZE])
{
    unsigned char point[1 + P256_PUBLIC_KEY_SIZE];
    point[0] = POINT_CONVERSION_UNCOMPRESSED;
    std::memcpy(point + 1, publicKey, P256_PUBLIC_KEY_SIZE);
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point)),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    if (key == nullptr)
        return nullptr;
    // fromdata takes the bytes as they are; make sure they are a point of the curve.
    EVP_PKEY_CTX* check = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    const bool onCurve = check != nullptr && EVP_PKEY_public_check(check) == 1;
    EVP_PKEY_CTX_free(check);
    if (!onCurve) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return key;
}

// r || s as the DER SEQUENCE libcrypto verifies; empty length on failure.
int SignatureToDer(const uint8_t signature[P256_SIGNATURE_SIZE], unsigned char** der)
{
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    int length = 0;
    if (sig != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(sig, r, s) == 1) {
        r = s = nullptr; // owned by sig now
        length = i2d_ECDSA_SIG(sig, der);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return length > 0 ? length : 0;
}

} // namespace

bool VerifyP256Sha256(const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], const void* message, size_t size,
                      const uint8_t signature[P256_SIGNATURE_SIZE])
{
    EVP_PKEY* key = ImportP256PublicKey(publicKey);
    if (key == nullptr)
        return false;
    unsigned char* der = nullptr;
    const int derLength = SignatureToDer(signature, &der);
    bool valid = false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (derLength > 0 && ctx != nullptr &&
        EVP_DigestVerifyInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, key, nullptr) == 1)
        valid = EVP_DigestVerify(ctx, der, static_cast<size_t>(derLength), static_cast<const unsigned char*>(message),
                                 size) == 1;
    EVP_MD_CTX_free(ctx);
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    return valid;
}
