// STREAM_STAGER: stages a patch package's entries while it downloads. The downloader tells
// it (DOWNLOAD_OBSERVER) how far its part file is written; as soon as the index is there
// it is checked, and each entry is staged (decoded or patched, checked, written below the
// staging area) once its bytes are, so that when the last byte arrives only the package's
// whole check and the swap remain (PATCH_APPLIER::Apply takes the staged entries).
//
// The work runs on a worker thread: one entry is one decode or patch of up to 4 GiB that
// cannot be cut into the window's 15 ms ticks. The worker owns the staging area and its
// own handle of the part while it runs; the downloader's thread only posts what it wrote
// and reads the outcome. Stop joins it (after the entry under way) before anything else
// touches the staging area.
//
// The journal in the staging area says "receiving", with the package's size, index CRC
// and server tag and which entries are staged, flushed before it names them. A download
// that goes on with the same package (this run or the next) keeps them; another package,
// a part that starts again or is discarded drops them. An index or an entry that fails its
// check (or a delta's installed base that is not its base) fails the stager: the caller
// stops the download, and nothing of it is ever swapped in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "downloader/download_observer.h"

class STREAM_STAGER : public DOWNLOAD_OBSERVER {
public:
    // Journal batches: the staged files are flushed and named at most this often, and
    // whenever the worker has staged every entry whose bytes are in.
    static constexpr unsigned int kJournalEveryMs = 500;

    // dir: the game directory ("" the current one).
    explicit STREAM_STAGER(const std::string& dir);
    ~STREAM_STAGER() override;
    STREAM_STAGER(const STREAM_STAGER&) = delete;
    STREAM_STAGER& operator=(const STREAM_STAGER&) = delete;

    // Parts of `kind` (the patch) that bring `version` are staged from now on; clears an
    // earlier failure and starts the worker.
    void Prepare(int kind, uint32_t version);
    // Stops the worker after the entry under way; what is staged stays as its journal says.
    void Stop();

    void OnPartBegin(int kind, const std::string& partPath, uint64_t total, uint64_t start, uint32_t tag) override;
    void OnPartOnDisk(uint64_t n) override;
    void OnPartComplete(const std::string& path) override;
    void OnPartDiscarded() override;

    // The part is complete and its entries are still being staged.
    bool Busy() const;
    // The package's index or an entry failed its check, or a delta's base did not match:
    // the download must stop. Problem says why; BaseMismatch tells the base case.
    bool Failed() const;
    std::string Problem() const;
    bool BaseMismatch() const;
    // The failure came with bytes kept from an earlier transfer (a part a power cut spoiled,
    // a bad splice): the package is fetched again whole, as after a failed whole check;
    // ClearFailure lets the stager go on with it.
    bool Spliced() const;
    void ClearFailure();
    // Entries staged for the current package (kept ones included).
    size_t Staged() const;

private:
    struct PART {
        uint64_t generation = 0;
        std::string path;
        uint64_t total = 0;
        uint64_t start = 0;
        uint32_t tag = 0;
        uint64_t onDisk = 0;
        bool live = false;
        bool complete = false;
        bool drop = false;
    };
    enum STATE { IDLE, STAGING, DONE, FAILED };
    class WORK;

    void Run();
    void Publish(uint64_t generation, STATE state, size_t staged);

    const std::string m_strDir;
    int m_iKind = 0;
    uint32_t m_uVersion = 0;
    mutable std::mutex m_Lock;
    std::condition_variable m_Wake;
    PART m_Part;
    bool m_bStop = false;
    // The same, read by the worker between entries.
    std::atomic<bool> m_bHalt{false};
    // What the worker reports, for the generation it works on.
    uint64_t m_uWorkerGeneration = 0;
    STATE m_eState = IDLE;
    size_t m_uStaged = 0;
    std::string m_strProblem;
    bool m_bBaseMismatch = false;
    bool m_bSpliced = false;
    std::thread m_Worker;
};
