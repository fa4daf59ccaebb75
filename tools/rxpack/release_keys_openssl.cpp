#include "release_keys.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char kMakeKeys[] = "make keys with: openssl ecparam -name prime256v1 -genkey -noout -out release.key; "
                         "openssl ec -in release.key -pubout -out release.pub";

// X || Y of an EC key on P-256; false with the reason for any other key.
bool RawPublicPoint(EVP_PKEY* key, const std::string& path, uint8_t out[P256_PUBLIC_KEY_SIZE], std::string* error)
{
    char group[64] = "";
    if (!EVP_PKEY_is_a(key, "EC") ||
        !EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group), nullptr) ||
        std::strcmp(group, "prime256v1") != 0) {
        *error = path + ": not a P-256 (prime256v1) key";
        return false;
    }
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, out, 32) == 32 &&
                    BN_bn2binpad(y, out + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    if (!ok)
        *error = path + ": its public point cannot be read";
    return ok;
}

// Reads a PEM file with the reader (private or public key); null with the reason.
template <typename READER>
EVP_PKEY* ReadPem(const std::string& path, const char* what, READER read, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        *error = path + ": cannot be opened";
        return nullptr;
    }
    EVP_PKEY* key = read(file);
    std::fclose(file);
    if (key == nullptr)
        *error = path + ": not a PEM " + what + " (" + kMakeKeys + ")";
    return key;
}

} // namespace

SIGNING_KEY::~SIGNING_KEY()
{
    EVP_PKEY_free(static_cast<EVP_PKEY*>(m_pKey));
}

bool SIGNING_KEY::Load(const std::string& path, std::string* error)
{
    EVP_PKEY* key = ReadPem(
        path, "private key", [](FILE* f) { return PEM_read_PrivateKey(f, nullptr, nullptr, nullptr); }, error);
    if (key == nullptr)
        return false;
    if (!RawPublicPoint(key, path, m_PublicKey, error)) {
        EVP_PKEY_free(key);
        return false;
    }
    EVP_PKEY_free(static_cast<EVP_PKEY*>(m_pKey));
    m_pKey = key;
    return true;
}

bool SIGNING_KEY::Sign(const void* message, size_t size, uint8_t signature[P256_SIGNATURE_SIZE], std::string* error)
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::vector<unsigned char> der;
    size_t length = 0;
    bool ok = ctx != nullptr && m_pKey != nullptr &&
              EVP_DigestSignInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, static_cast<EVP_PKEY*>(m_pKey),
                                    nullptr) == 1 &&
              EVP_DigestSign(ctx, nullptr, &length, static_cast<const unsigned char*>(message), size) == 1;
    if (ok) {
        der.resize(length);
        ok = EVP_DigestSign(ctx, der.data(), &length, static_cast<const unsigned char*>(message), size) == 1;
    }
    EVP_MD_CTX_free(ctx);
    ECDSA_SIG* sig = nullptr;
    if (ok) {
        const unsigned char* at = der.data();
        sig = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length));
        ok = sig != nullptr && BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature, 32) == 32 &&
             BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature + 32, 32) == 32;
    }
    ECDSA_SIG_free(sig);
    if (!ok)
        *error = "signing failed";
    return ok;
}

bool LoadPublicKeyPem(const std::string& path, uint8_t key[P256_PUBLIC_KEY_SIZE], std::string* error)
{
    EVP_PKEY* pkey = ReadPem(
        path, "public key", [](FILE* f) { return PEM_read_PUBKEY(f, nullptr, nullptr, nullptr); }, error);
    if (pkey == nullptr)
        return false;
    const bool ok = RawPublicPoint(pkey, path, key, error);
    EVP_PKEY_free(pkey);
    return ok;
}
