// The update conversation between the launcher and an update server: message ids, the
// kinds of file a client may ask for, and the local name each kind is stored under.
//
//   256 MSG_GET_FILE       client -> server  dword kind, dword 0, dword 0
//   257 MSG_FILE_BEGIN     server -> client  counted name (with its zero byte), dword size
//   258 MSG_FILE_DATA      server -> client  counted bytes: one chunk of the file
//   259 MSG_FILE_END       server -> client  empty
//   260 MSG_FILE_FAILED    server -> client  empty
//   261 MSG_FILE_DATA_ACK  client -> server  empty, one per chunk
//   262 MSG_GET_INFO       both              request empty; answer: dword (unused),
//                                            dword game version, counted info text (with
//                                            its zero byte), dword updater version
#pragma once

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

// An updater version at or above this one is an offer of a new updater.
constexpr unsigned int UPDATER_OFFER_MIN_VERSION = 1024;
