// The tree a CDN or an object store serves, DIR/cdn: every package and variant of the
// release and the new updater as DIR/cdn/objects/<SHA-256, lowercase hex>. A name always
// holds the same bytes, so a cache may keep an object for ever, and a studio copies the
// tree to any origin as plain files (only new names appear from one release to the next).
// Mirror base URLs go into the signed manifest; a package's address is the base, "/"
// unless it ends with one, "objects/" and the hex.
#pragma once

#include <string>
#include <vector>

// A mirror base URL as the manifest takes it (MirrorUrlProblem), and without a user part,
// which would put a secret into a public manifest. False with the reason otherwise.
bool CheckMirrorUrl(const std::string& url, std::string* why);

// Takes every "--mirror URL" (or "--mirror=URL") out of args into *mirrors, in order,
// each checked; false with the reason for a bad one, a repeated one or more than
// RELEASE_MANIFEST::kMaxMirrors.
bool TakeMirrorOptions(std::vector<std::string>* args, std::vector<std::string>* mirrors, std::string* error);

// Adds the packages (*.rxpack) and UpdaterNew.exe of serveDir to storeDir/cdn/objects:
// each hard-linked (or copied where a link cannot be made) under a temporary name, then
// renamed to its hash. An object already there is kept when it holds exactly its bytes;
// one that holds other bytes is never overwritten: that is an error. *added: the objects
// new this time.
bool AddCdnObjects(const std::string& storeDir, const std::string& serveDir, std::vector<std::string>* added,
                   std::string* error);
