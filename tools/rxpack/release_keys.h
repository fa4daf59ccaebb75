// The studio's PEM keys for sign-release and verify-release. Signing uses OpenSSL and is
// not in the Windows build (Load says so); public keys are read with OpenSSL or, on Windows, crypt32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

class SIGNING_KEY {
public:
    SIGNING_KEY() = default;
    ~SIGNING_KEY();
    SIGNING_KEY(const SIGNING_KEY&) = delete;
    SIGNING_KEY& operator=(const SIGNING_KEY&) = delete;

    // Reads a PEM P-256 private key (as "openssl ecparam -name prime256v1 -genkey" makes
    // it). False with the reason.
    bool Load(const std::string& path, std::string* error);
    // ECDSA with SHA-256 over message: r || s.
    bool Sign(const void* message, size_t size, uint8_t signature[P256_SIGNATURE_SIZE], std::string* error);
    // X || Y of the key's public point.
    const uint8_t* PublicKey() const { return m_PublicKey; }

private:
    void* m_pKey = nullptr;
    uint8_t m_PublicKey[P256_PUBLIC_KEY_SIZE] = {};
};

// Reads a PEM P-256 public key (as "openssl ec -pubout" writes it) as X || Y. False with
// the reason.
bool LoadPublicKeyPem(const std::string& path, uint8_t key[P256_PUBLIC_KEY_SIZE], std::string* error);
