// SHA-256 and ECDSA P-256 signature checks from the platform: CNG (bcrypt) on Windows,
// OpenSSL's libcrypto elsewhere. No crypto of our own.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SHA256_DIGEST_SIZE = 32;
// An uncompressed P-256 point without its 0x04 prefix: X || Y, each 32 bytes big-endian.
constexpr size_t P256_PUBLIC_KEY_SIZE = 64;
// r || s, each 32 bytes big-endian.
constexpr size_t P256_SIGNATURE_SIZE = 64;

// A SHA-256 over bytes fed as they come. One digest per object: after Final, Update and
// Final fail. Any failure of the platform sticks and is reported by Final.
class SHA256_STREAM {
public:
    SHA256_STREAM();
    ~SHA256_STREAM();
    SHA256_STREAM(const SHA256_STREAM&) = delete;
    SHA256_STREAM& operator=(const SHA256_STREAM&) = delete;

    bool Update(const void* data, size_t size);
    bool Final(uint8_t digest[SHA256_DIGEST_SIZE]);

private:
    void Release();

    void* m_pState;     // the platform's hash object
    void* m_pAlgorithm; // the platform's SHA-256 provider
    bool m_bFailed;
};

// The SHA-256 of one block of bytes.
bool Sha256(const void* data, size_t size, uint8_t digest[SHA256_DIGEST_SIZE]);

// True only when signature is a valid ECDSA P-256 signature with SHA-256 of message under
// publicKey. A key that is not a point of the curve, a signature out of range, or any
// failure of the platform gives false.
bool VerifyP256Sha256(const uint8_t publicKey[P256_PUBLIC_KEY_SIZE], const void* message, size_t size,
                      const uint8_t signature[P256_SIGNATURE_SIZE]);
