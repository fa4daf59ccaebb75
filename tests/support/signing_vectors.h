// Fixed ECDSA P-256 vectors, made once with the openssl command line:
//   openssl ecparam -name prime256v1 -genkey -noout -out k.pem
//   openssl ec -in k.pem -pubout -outform DER | tail -c 64            (the key's X || Y)
//   openssl dgst -sha256 -sign k.pem -out sig.der MESSAGE            (DER -> r || s with
//                                                                     p256_signature.py)
// Both targets check them, so CNG under Wine and libcrypto agree on the same bytes.
#pragma once

#include <string>

namespace signing_vectors {

constexpr char kPublicKey[] = "a5eac390a701a6accb658957b3a14f7097ef20132574990e3f75aea41bfcd065"
                              "2cd20e8219f85f9a5779aeaf745b762f538da71bb418e4fb4e8bb00d05c64a3c";
// Another key of the same kind (another studio).
constexpr char kOtherPublicKey[] = "661fa12a251af465ad10cfa0604b8ad83bc0a3cfbea66674d5d35cd550407bb2"
                                   "10cc026ad088a15a3363fff68d3c36bf39816750365a6bae62951804f50a1b8c";

// A third key, and two signatures of kMessage under it whose r, then s, has a zero first byte.
constexpr char kThirdPublicKey[] = "efea334afc99a91aab1519e9595dad9675abaf6b208ca035f1d9c334d47777c4"
                                   "18b37a2a355530b65bf5451ee048348c24b9aba6eb55a5133111a3ba8c1e3d86";
constexpr char kShortRSignature[] = "004b68623bd145e3e5c10181aa3784fb7dfe6c379d87fdf4721cc13937f854f7"
                                    "fdbfa3f5b27d888e083f49262658520bb1c0c6532e45539a7ce96ac9ee2b99b6";
constexpr char kShortSSignature[] = "4729361e4b026e58ed4e91ba1e747f20b9d93bebf82b5d2418cb159a09aa130d"
                                    "00961f73c9f3a3140c108c71bd14dce9f53a1f1a308a84e335730ff32b575270";

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
// The whole signed manifest.
inline std::string SignedManifest()
{
    return std::string(kManifestBody) + kManifestSignatureLine;
}
// 2027-01-07T00:00:00Z
constexpr long long kManifestExpires = 1799280000;

} // namespace signing_vectors
