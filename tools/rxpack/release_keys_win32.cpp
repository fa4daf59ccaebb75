#include "release_keys.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

SIGNING_KEY::~SIGNING_KEY() {}

bool SIGNING_KEY::Load(const std::string&, std::string* error)
{
    *error = "sign-release is not available in the Windows build of rxpack (it signs with OpenSSL): use the "
             "Linux rxpack";
    return false;
}

bool SIGNING_KEY::Sign(const void*, size_t, uint8_t*, std::string*)
{
    return false; // no key is ever loaded here
}

bool LoadPublicKeyPem(const std::string& path, uint8_t key[P256_PUBLIC_KEY_SIZE], std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": cannot be opened";
        return false;
    }
    std::vector<char> text(64 * 1024);
    const size_t got = std::fread(text.data(), 1, text.size(), file);
    std::fclose(file);

    *error = path + ": not a PEM public key (make one with: openssl ec -in release.key -pubout -out release.pub)";
    DWORD derSize = 0;
    if (got == 0 || got == text.size() ||
        !CryptStringToBinaryA(text.data(), static_cast<DWORD>(got), CRYPT_STRING_BASE64HEADER, nullptr, &derSize,
                              nullptr, nullptr))
        return false;
    std::vector<BYTE> der(derSize);
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(got), CRYPT_STRING_BASE64HEADER, der.data(), &derSize,
                              nullptr, nullptr))
        return false;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &info, &infoSize))
        return false;
    // id-ecPublicKey on prime256v1, an uncompressed point.
    static const BYTE kP256[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
    const bool p256 = std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
                      info->Algorithm.Parameters.cbData == sizeof(kP256) &&
                      std::memcmp(info->Algorithm.Parameters.pbData, kP256, sizeof(kP256)) == 0 &&
                      info->PublicKey.cbData == 1 + P256_PUBLIC_KEY_SIZE && info->PublicKey.pbData[0] == 0x04;
    if (p256)
        std::memcpy(key, info->PublicKey.pbData + 1, P256_PUBLIC_KEY_SIZE);
    else
        *error = path + ": not a P-256 (prime256v1) key";
    LocalFree(info);
    return p256;
}
