#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/crypto.h"
#include "release/hex_text.h"
#include "support/signing_vectors.h"

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
    const std::string key = signing_vectors::kPublicKey;
    const std::string message = signing_vectors::kMessage;
    const std::string sig = signing_vectors::kMessageSignature;
    const std::string r = sig.substr(0, 64);
    const std::string s = sig.substr(64);
    // n, the order of the P-256 group: r and s must lie in [1, n - 1].
    const std::string n = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
    const std::string zero(64, '0');
    auto flipLastDigit = [](std::string hex) {
        hex.back() = hex.back() == '0' ? '1' : '0';
        return hex;
    };
    struct CASE {
        const char* what;
        std::string key, message, signature;
        bool valid;
    };
    const CASE cases[] = {
        {"as signed", key, message, sig, true},
        {"message byte changed", key, "velgrim test vectoR\n", sig, false},
        {"message one byte longer", key, message + "\n", sig, false},
        {"message empty", key, "", sig, false},
        {"r changed", key, message, flipLastDigit(r) + s, false},
        {"s changed", key, message, r + flipLastDigit(s), false},
        {"r and s swapped", key, message, s + r, false},
        {"r zero", key, message, zero + s, false},
        {"s zero", key, message, r + zero, false},
        {"r = n", key, message, n + s, false},
        {"s = n", key, message, r + n, false},
        {"another studio's key", signing_vectors::kOtherPublicKey, message, sig, false},
        {"key not on the curve", flipLastDigit(key), message, sig, false},
        {"key all zero", zero + zero, message, sig, false},
        // A leading zero byte, which DER drops and r || s keeps.
        {"r below 2^248", signing_vectors::kThirdPublicKey, message, signing_vectors::kShortRSignature, true},
        {"s below 2^248", signing_vectors::kThirdPublicKey, message, signing_vectors::kShortSSignature, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t rawKey[P256_PUBLIC_KEY_SIZE];
        uint8_t rawSignature[P256_SIGNATURE_SIZE];
        ASSERT_TRUE(ParseHexLower(c.key, rawKey, sizeof(rawKey)));
        ASSERT_TRUE(ParseHexLower(c.signature, rawSignature, sizeof(rawSignature)));
        EXPECT_EQ(VerifyP256Sha256(rawKey, c.message.data(), c.message.size(), rawSignature), c.valid);
    }
}
