// Fixed ECDSA P-256 vectors, made once with the openssl command line:
//   openssl ecparam -name prime256v1 -genkey -noout -out k.pem
//   openssl ec -in k.pem -pubout -outform DER | tail -c 64            (the key's X || Y)
//   openssl dgst -sha256 -sign k.pem -out sig.der MESSAGE            (DER -> r || s with
//                                                                     p256_signature.py)
// Both targets check them, so CNG under Wine and libcrypto agree on the same bytes.
#pragma once

namespace signing_vectors {

constexpr char kPublicKey[] = "a5eac390a701a6accb658957b3a14f7097ef20132574990e3f75aea41bfcd065"
                              "2cd20e8219f85f9a5779aeaf745b762f538da71bb418e4fb4e8bb00d05c64a3c";
// Another key of the same kind (another studio).
constexpr char kOtherPublicKey[] = "661fa12a251af465ad10cfa0604b8ad83bc0a3cfbea66674d5d35cd550407bb2"
                                   "10cc026ad088a15a3363fff68d3c36bf39816750365a6bae62951804f50a1b8c";

constexpr char kMessage[] = "velgrim test vector\n";
constexpr char kMessageSignature[] = "7c9f906731c4d787bcfc7d97aa2c0c32ac462587223ca9f6871824ec7b584698"
                                     "b95373454e902996eebb08587cbac52d45cb5601a9013c5d0c0919e8386f3c08";

// A manifest signed with kPublicKey's private key: patch "PATCH", updater "MZ updater".
constexpr char kManifestBody[] =
    "velgrim-release 1\n"
    "game_version 7\n"
    "updater_version 1100\n"
    "file 1002 Velgrim_patch.rxpack 5 8dce33b49f31396a100fb4baf9f8a5dd5d27a4e29d3e244b8eb7b3ae3e619d2c\n"
    "file 1003 UpdaterNew.exe 10 e76b6670da229ced9d63adac6ed34b7a406dc2f1cd7e80b1a7e476a708a8aebb\n"
    "expires 2027-01-07T00:00:00Z\n";
constexpr char kManifestSignatureLine[] =
    "signature d897f781dd107b11253428d6f6b9325d6bb303179d2c553b4c335ccde8530fe6"
    "5ec4985f45fb2cd5afa151ca0f2076bce5d11496a05d0a4e4daecc6fcbad8538\n";
// 2027-01-07T00:00:00Z
constexpr long long kManifestExpires = 1799280000;

} // namespace signing_vectors
