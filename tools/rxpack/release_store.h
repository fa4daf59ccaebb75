// The release store: every version a studio released, and every file content once.
//
//     DIR/velgrim-store.txt            "velgrim-store 1\n": the store's format
//     DIR/versions/<N>.txt             each version's file list (version_list.h)
//     DIR/objects/<ab>/<SHA-256>       each content once, named by its SHA-256 (ab: its
//                                      first two hex digits)
//     DIR/serve/                       the release directory update-server serves
//
// A store is only ever added to: contents first, each under a temporary name until whole
// and checked, then the version's list, the step that records it. A run that fails at any
// point leaves the versions the store had (and at most contents no list names yet).
#pragma once

#include <string>
#include <vector>

#include "version_list.h"

class RELEASE_STORE {
public:
    static constexpr uint32_t kFormat = 1;

    explicit RELEASE_STORE(std::string dir) : m_strDir(std::move(dir)) {}

    // Reads the versions. A missing or empty DIR is an empty store; a folder that holds
    // other things, a store of a later format and an unreadable list are refused.
    bool Open(std::string* error);
    // The versions, oldest first.
    const std::vector<VERSION_LIST>& Versions() const { return m_Versions; }
    const VERSION_LIST* Newest() const { return m_Versions.empty() ? nullptr : &m_Versions.back(); }

    const std::string& Dir() const { return m_strDir; }
    std::string ServeDir() const { return m_strDir + "/serve"; }
    std::string ObjectPath(const uint8_t sha256[SHA256_DIGEST_SIZE]) const;

    // Creates DIR, its folders and its format file when missing.
    bool Create(std::string* error);
    // Copies source into the store unless its content is there; the copy must be the
    // content `file` describes (a file changed since it was listed is refused).
    bool AddObject(const std::string& source, const LISTED_FILE& file, std::string* error);
    // Records a version: its list, written whole or not at all.
    bool Record(const VERSION_LIST& list, std::string* error);

private:
    std::string m_strDir;
    std::vector<VERSION_LIST> m_Versions;
};

// The size and SHA-256 of a file on disk.
bool DescribeFile(const std::string& path, LISTED_FILE* file, std::string* error);
