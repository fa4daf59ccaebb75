// The update conversation between the launcher and an update server: message ids, the
// kinds of file a client may ask for, and the local name each kind is stored under.
//
//   256 MSG_GET_FILE       client -> server  dword kind, dword offset, dword tag
//   257 MSG_FILE_BEGIN     server -> client  counted name (with its zero byte), dword size
//                                            [, dword tag, dword start: see below]
//   258 MSG_FILE_DATA      server -> client  counted bytes: one chunk of the file
//   259 MSG_FILE_END       server -> client  empty
//   260 MSG_FILE_FAILED    server -> client  empty
//   261 MSG_FILE_DATA_ACK  client -> server  empty, one per chunk
//   262 MSG_GET_INFO       both              request empty; answer: dword (unused),
//                                            dword game version, counted info text (with
//                                            its zero byte), dword updater version
//
// Resuming, compatible both ways: a plain client asks with offset 0 and tag 0 and gets
// exactly the plain answer. Our client sends the offset it holds and the tag of that part
// (RESUME_TAG_NONE when it holds none); a server that knows resuming answers any request
// whose tag is not 0 with two more dwords in MSG_FILE_BEGIN: its tag for the file and the
// offset it sends from (the asked one when the tags match and it lies inside the file,
// else 0). MSG_FILE_DATA then carries the file from that offset on. A plain server
// ignores both fields and appends nothing: the client starts from 0.
#pragma once

#include <cstdint>

constexpr short MSG_GET_FILE = 256;
constexpr short MSG_FILE_BEGIN = 257;
constexpr short MSG_FILE_DATA = 258;
constexpr short MSG_FILE_END = 259;
constexpr short MSG_FILE_FAILED = 260;
constexpr short MSG_FILE_DATA_ACK = 261;
constexpr short MSG_GET_INFO = 262;

// The patch package.
constexpr int FILE_KIND_PATCH = 1002;
// The new updater.
constexpr int FILE_KIND_UPDATER = 1003;

// The one name a file of each kind has: announced by the server, written by the
// downloader, unpacked or started by the launcher, read from a release directory.
constexpr const char PATCH_FILE_NAME[] = "Velgrim_patch.rxpack";
constexpr const char UPDATER_FILE_NAME[] = "UpdaterNew.exe";

// The local name of a file kind, or null for a kind the conversation does not know.
constexpr const char* FileKindName(int kind)
{
    return kind == FILE_KIND_PATCH ? PATCH_FILE_NAME : kind == FILE_KIND_UPDATER ? UPDATER_FILE_NAME : nullptr;
}

// The tag field of a request from a client that knows resuming but holds nothing.
constexpr uint32_t RESUME_TAG_NONE = 1;

// A served file's tag: the first four bytes of its SHA-256 as a little-endian dword, 0 and
// 1 taken as 2 (those two say something else in a request).
constexpr uint32_t ResumeTagOfDigest(const uint8_t* sha256)
{
    const uint32_t tag = static_cast<uint32_t>(sha256[0]) | static_cast<uint32_t>(sha256[1]) << 8 |
                         static_cast<uint32_t>(sha256[2]) << 16 | static_cast<uint32_t>(sha256[3]) << 24;
    return tag < 2 ? 2 : tag;
}

// Capabilities, announced before used. Our server's version answer carries in its first
// dword (which a plain launcher reads and does not use) SERVER_CAPS_MAGIC in the high 16
// bits and the SERVER_CAP_* it knows in the low 16 bits; no plain server sends a word of
// that shape. Our client sends anything but "kind, 0, 0" only to a server that announced it.
constexpr uint32_t SERVER_CAPS_MAGIC = 0x56470000u; // bytes on the wire: caps, caps, 'G', 'V'
constexpr uint32_t SERVER_CAPS_MAGIC_MASK = 0xFFFF0000u;
// The three-dword resume request above (kept for launchers of the previous release, which
// send it to every server).
constexpr uint32_t SERVER_CAP_RESUME = 1u << 0;
// The package request below: packages by installed version.
constexpr uint32_t SERVER_CAP_PACKAGES = 1u << 1;

constexpr bool ServerAnnounced(uint32_t word, uint32_t cap)
{
    return (word & SERVER_CAPS_MAGIC_MASK) == SERVER_CAPS_MAGIC && (word & cap) != 0;
}

// The package request, sent only to a server that announced SERVER_CAP_PACKAGES:
//
//   MSG_GET_FILE   dword kind, dword offset (low), dword tag (RESUME_TAG_NONE when the
//                  client holds nothing), dword GET_FILE_PACKAGE_MARK, dword offset (high),
//                  dword installed game version (0 when unknown), dword PACKAGE_FEATURE_*
//   MSG_FILE_BEGIN counted name (with its zero byte), dword size (low), dword tag,
//                  dword start (low), dword size (high), dword start (high),
//                  dword base: the installed version the package was made from, or
//                  PACKAGE_BASE_CUMULATIVE / PACKAGE_BASE_FULL (the updater kind: FULL)
//
// The start follows the resume rule above (the asked offset when the tags match and it
// lies inside the file, else 0). Sizes and offsets are 64-bit only here.
constexpr uint32_t GET_FILE_PACKAGE_MARK = 0x50524756u; // "VGRP"
constexpr uint32_t PACKAGE_FEATURE_REMOVALS = 1u << 0;
constexpr uint32_t PACKAGE_FEATURE_ZSTD = 1u << 1;  // compressed entries
constexpr uint32_t PACKAGE_FEATURE_DELTA = 1u << 2; // delta entries against installed files
// The package for the installed version made against a kept version (PACKAGE_BASE = that
// version); every file that differs between the new version and any kept one, plain
// entries, no removals (what a plain launcher gets); every file of the new version, no
// removals (an installed version the store does not keep).
constexpr uint32_t PACKAGE_BASE_CUMULATIVE = 0xFFFFFFFFu;
constexpr uint32_t PACKAGE_BASE_FULL = 0xFFFFFFFEu;

// An updater version at or above this one is an offer of a new updater.
constexpr unsigned int UPDATER_OFFER_MIN_VERSION = 1024;
