// A signed release's file from the mirrors its manifest lists (CDNs, object stores, any
// plain web cache), on a worker thread so that the window's progress and Cancel stay live.
// The mirrors are tried in the manifest's order; each goes on from the part held beside
// the file (the `.part` and its record, as the downloader keeps them), and the whole file
// must have the manifest's size and SHA-256 before it takes its name. A mirror that fails,
// stalls or serves other bytes is passed over for the next.
//
//     MIRROR_FETCH fetch;
//     fetch.Start(job);
//     while (fetch.Poll() == MIRROR_FETCH::RUNNING) ... Received(), Total() ... (Cancel())
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/web_fetch.h"
#include "platform/crypto.h"
#include "release/release_manifest.h"

// A file of the release, addressed by its hash on every mirror.
struct MIRROR_JOB {
    std::vector<std::string> mirrors; // base URLs, in the manifest's order
    std::string path;                 // the local name (its part: path + ".part")
    int kind = 0;                     // FILE_KIND_*, for the part's record
    uint32_t base = 0;                // the package's base, for the part's record
    uint64_t size = 0;
    uint8_t sha256[SHA256_DIGEST_SIZE] = {};
    WEB_FETCH_OPTIONS options;
};

// The address of an object on a mirror: the base, "/" unless it ends with one, "objects/"
// and the SHA-256 in lowercase hex.
std::string MirrorObjectUrl(const std::string& base, const uint8_t sha256[SHA256_DIGEST_SIZE]);

// The package of a signed manifest for a launcher installed at `installed` (0 unknown) that
// understands `features` (PACKAGE_FEATURE_*): the one made from it in the best variant the
// features allow (delta, then zstd, then plain), else the full one (zstd, then plain),
// else the cumulative one: what the update server would send. Null when none fits.
const MANIFEST_PACKAGE* ChooseManifestPackage(const RELEASE_MANIFEST& manifest, uint32_t installed,
                                              uint32_t features);

class MIRROR_FETCH {
public:
    enum STATE { IDLE, RUNNING, ARRIVED, FAILED, CANCELLED };

    MIRROR_FETCH() = default;
    ~MIRROR_FETCH();
    MIRROR_FETCH(const MIRROR_FETCH&) = delete;
    MIRROR_FETCH& operator=(const MIRROR_FETCH&) = delete;

    // Starts the worker (a fetch under way is cancelled first).
    void Start(const MIRROR_JOB& job);
    STATE Poll() const { return m_eState.load(); }
    // Stops the worker and waits for it: it notices within WebFetch's 200 ms. The part stays.
    void Cancel();
    // Back to IDLE once the worker has ended.
    void Reset();

    // Bytes of the file held (the part included) and its size, for the progress bar.
    uint64_t Received() const { return m_uReceived.load(); }
    uint64_t Total() const { return m_Job.size; }
    // What each mirror that failed came to, "URL: reason", in order.
    std::vector<std::string> Failures() const;

private:
    // GOT_IT: the file is in place. BROKE: the transfer failed, its bytes kept. PASS_OVER:
    // the mirror serves something else. STOPPED: Cancel. LOCAL_FAILURE: this disk failed.
    enum ATTEMPT { GOT_IT, BROKE, PASS_OVER, STOPPED, LOCAL_FAILURE };
    void Run();
    ATTEMPT FromMirror(const std::string& url, bool fromZero, bool* spliced, uint64_t* gained, std::string* reason);
    void Failed(const std::string& url, const std::string& reason);
    void Join();

    MIRROR_JOB m_Job;
    std::thread m_Thread;
    std::atomic<STATE> m_eState{IDLE};
    std::atomic<bool> m_bCancel{false};
    std::atomic<uint64_t> m_uReceived{0};
    mutable std::mutex m_Lock;
    std::vector<std::string> m_Failures;
};
