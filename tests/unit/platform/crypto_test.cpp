#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/crypto.h"
#include "release/hex_text.h"
#include "support/signing_vectors.h"
#include "support/test_signing_key.h"

namespace {

std::string DigestOf(const std::string& bytes, size_t piece)
{
    SHA256_STREAM hash;
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!hash.Update(bytes.data() + at, std::min(piece, bytes.size() - at)))
            return "update failed";
    uint8_t digest[SHA256_DIGEST_SIZE];
    return hash.Final(digest) ? HexLower(digest, sizeof(digest)) : "final failed";
}

struct KEY_AND_SIGNATURE {
    uint8_t key[P256_PUBLIC_KEY_SIZE];
    uint8_t signature[P256_SIGNATURE_SIZE];
};

KEY_AND_SIGNATURE FixedVector()
{
    KEY_AND_SIGNATURE v;
    EXPECT_TRUE(ParseHexLower(signing_vectors::kPublicKey, v.key, sizeof(v.key)));
    EXPECT_TRUE(ParseHexLower(signing_vectors::kMessageSignature, v.signature, sizeof(v.signature)));
    return v;
}

} // namespace

TEST(Sha256, KnownAnswersWholeAndInPieces)
{
    struct CASE {
        std::string bytes;
        const char* digest;
    };
    const CASE cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 10));
        for (size_t piece : {c.bytes.size() + 1, size_t(1), size_t(63), size_t(64), size_t(65), size_t(4099)}) {
            if (piece == 1 && c.bytes.size() > 100000)
                continue;
            EXPECT_EQ(DigestOf(c.bytes, piece), c.digest) << "pieces of " << piece;
        }
        uint8_t digest[SHA256_DIGEST_SIZE];
        ASSERT_TRUE(Sha256(c.bytes.data(), c.bytes.size(), digest));
        EXPECT_EQ(HexLower(digest, sizeof(digest)), c.digest);
    }
}

TEST(Sha256, OneDigestPerStream)
{
    SHA256_STREAM hash;
    uint8_t digest[SHA256_DIGEST_SIZE];
    ASSERT_TRUE(hash.Update("abc", 3));
    ASSERT_TRUE(hash.Final(digest));
    EXPECT_FALSE(hash.Update("abc", 3));
    EXPECT_FALSE(hash.Final(digest));
}

TEST(VerifyP256Sha256, AcceptsOnlyTheSignedMessageUnderItsKey)
{
    const KEY_AND_SIGNATURE good = FixedVector();
    const std::string message = signing_vectors::kMessage;
    ASSERT_TRUE(VerifyP256Sha256(good.key, message.data(), message.size(), good.signature));

    // n, the order of the P-256 group: r and s must lie in [1, n - 1].
    const char kOrder[] = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
    struct CASE {
        const char* what;
        void (*spoil)(KEY_AND_SIGNATURE* v, std::string* message, const char* order);
    };
    const CASE cases[] = {
        {"message byte changed", [](KEY_AND_SIGNATURE*, std::string* m, const char*) { (*m)[3] ^= 1; }},
        {"message one byte longer", [](KEY_AND_SIGNATURE*, std::string* m, const char*) { *m += '\n'; }},
        {"message empty", [](KEY_AND_SIGNATURE*, std::string* m, const char*) { m->clear(); }},
        {"r changed", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { v->signature[31] ^= 1; }},
        {"s changed", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { v->signature[32] ^= 0x80; }},
        {"r and s swapped",
         [](KEY_AND_SIGNATURE* v, std::string*, const char*) { std::swap_ranges(v->signature, v->signature + 32, v->signature + 32); }},
        {"r zero", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { std::memset(v->signature, 0, 32); }},
        {"s zero", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { std::memset(v->signature + 32, 0, 32); }},
        {"r = n", [](KEY_AND_SIGNATURE* v, std::string*, const char* n) { ParseHexLower(n, v->signature, 32); }},
        {"s = n", [](KEY_AND_SIGNATURE* v, std::string*, const char* n) { ParseHexLower(n, v->signature + 32, 32); }},
        {"another studio's key",
         [](KEY_AND_SIGNATURE* v, std::string*, const char*) {
             ParseHexLower(signing_vectors::kOtherPublicKey, v->key, sizeof(v->key));
         }},
        {"key not on the curve", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { v->key[63] ^= 1; }},
        {"key all zero", [](KEY_AND_SIGNATURE* v, std::string*, const char*) { std::memset(v->key, 0, 64); }},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        KEY_AND_SIGNATURE v = good;
        std::string m = message;
        c.spoil(&v, &m, kOrder);
        EXPECT_FALSE(VerifyP256Sha256(v.key, m.data(), m.size(), v.signature));
    }
}

#ifndef _WIN32
TEST(VerifyP256Sha256, KeysMadeHereSignAndVerify)
{
    TEST_SIGNING_KEY key;
    TEST_SIGNING_KEY other;
    ASSERT_TRUE(key.Ok() && other.Ok());
    std::string message;
    for (int i = 0; i < 40; ++i) {
        message += static_cast<char>(i * 37);
        uint8_t signature[P256_SIGNATURE_SIZE];
        ASSERT_TRUE(key.Sign(message, signature));
        EXPECT_TRUE(VerifyP256Sha256(key.PublicKey(), message.data(), message.size(), signature)) << i;
        EXPECT_FALSE(VerifyP256Sha256(other.PublicKey(), message.data(), message.size(), signature)) << i;
    }
}
#endif
