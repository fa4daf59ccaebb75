// A fresh P-256 key made by the test with libcrypto (Linux build only: the Windows
// build checks the fixed vectors of signing_vectors.h instead).
#pragma once

#ifndef _WIN32
#include <cstdint>
#include <string>

#include "platform/crypto.h"

class TEST_SIGNING_KEY {
public:
    TEST_SIGNING_KEY();
    ~TEST_SIGNING_KEY();
    TEST_SIGNING_KEY(const TEST_SIGNING_KEY&) = delete;
    TEST_SIGNING_KEY& operator=(const TEST_SIGNING_KEY&) = delete;

    bool Ok() const { return m_pKey != nullptr; }
    const uint8_t* PublicKey() const { return m_PublicKey; }
    // r || s over SHA-256 of message.
    bool Sign(const std::string& message, uint8_t signature[P256_SIGNATURE_SIZE]) const;

private:
    void* m_pKey = nullptr;
    uint8_t m_PublicKey[P256_PUBLIC_KEY_SIZE] = {};
};
#endif
