// Unpacks a patch package below a target directory, reporting through a callback.
#pragma once

// Events: (event, value, text).
constexpr int UNPACK_EVENT_ERROR = 0;         // failure code (2, 4 or 5), null
constexpr int UNPACK_EVENT_BEGIN = 1;         // 0, package path
constexpr int UNPACK_EVENT_FILE_BEGIN = 2;    // entry data size, output path
constexpr int UNPACK_EVENT_FILE_PROGRESS = 3; // percent written (1..100), output path
constexpr int UNPACK_EVENT_FILE_END = 4;      // 0, output path
constexpr int UNPACK_EVENT_END = 5;           // 0, package path

// Result codes; the last failure wins.
constexpr int UNPACK_OK = 0;
constexpr int UNPACK_ERR_OPEN = 1;   // the package cannot be opened
constexpr int UNPACK_ERR_READ = 2;   // short or malformed header, or the package is shorter than it says
constexpr int UNPACK_ERR_WRITE = 3;  // an output file took fewer bytes than given
constexpr int UNPACK_ERR_MEMORY = 4; // no memory for the entry table or the name block
constexpr int UNPACK_ERR_CREATE = 5; // an output file cannot be created (or its name is unsafe)

// The return value is ignored.
typedef bool (*UNPACK_CALLBACK)(int event, int value, const char* text);

class PACK_UNPACKER {
public:
    // target_dir null: the current directory; callback null: one that does nothing.
    int Unpack(const char* package_path, const char* target_dir, UNPACK_CALLBACK callback);
};
