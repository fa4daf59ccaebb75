#ifndef _WIN32
#include "support/test_signing_key.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <vector>

TEST_SIGNING_KEY::TEST_SIGNING_KEY()
{
    EVP_PKEY* key = EVP_EC_gen("prime256v1");
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    if (key != nullptr && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, m_PublicKey, 32) == 32 &&
        BN_bn2binpad(y, m_PublicKey + 32, 32) == 32) {
        m_pKey = key;
        key = nullptr;
    }
    BN_free(x);
    BN_free(y);
    EVP_PKEY_free(key);
}

TEST_SIGNING_KEY::~TEST_SIGNING_KEY()
{
    EVP_PKEY_free(static_cast<EVP_PKEY*>(m_pKey));
}

bool TEST_SIGNING_KEY::Sign(const std::string& message, uint8_t signature[P256_SIGNATURE_SIZE]) const
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::vector<unsigned char> der(128);
    size_t length = der.size();
    bool ok = ctx != nullptr &&
              EVP_DigestSignInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, static_cast<EVP_PKEY*>(m_pKey),
                                    nullptr) == 1 &&
              EVP_DigestSign(ctx, der.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                             message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    const unsigned char* at = der.data();
    ECDSA_SIG* sig = ok ? d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)) : nullptr;
    ok = sig != nullptr && BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature, 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    return ok;
}
#endif
