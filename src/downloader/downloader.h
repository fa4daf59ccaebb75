// DOWNLOADER: the client side of the update conversation. Connects to an update server,
// asks for its versions, requests one file by kind, receives it chunk by chunk into a
// temporary file beside its local name (acknowledging each chunk) and moves it into place
// when the server ends it. A large chunk is checked and written in pieces as they arrive.
//
//     downloader.Connect(address, port);
//     if (downloader.GetVelgrimInfo()) ... game_version, updater_version, info_text ...
//     downloader.GetFile(FILE_KIND_PATCH, "");
//     while (!downloader.IsCompleteOrError()) downloader.Process();   // one per tick
//     downloader.Disconnect(); ... downloader.IsError() ...
//
// The server is not trusted. A transfer that breaks the conversation fails: `error` is
// set, the connection is closed and nothing is left under the file's name or beside it.
// Such breaches are an announcement nobody asked for or under another name than the
// kind's own (compared without regard to case), a chunk outside the announced size or
// before the announcement, a second announcement, an end before every byte came, a write
// that the disk does not take whole, and a stall: no progress for m_uStallTimeoutMs while
// a transfer is under way. Progress is the file's announcement, kProgressBytes of its data
// or its end; other frames, however many, are none. A version answer counts only while
// GetVelgrimInfo waits for it.
//
// With a release manifest (ExpectRelease), a file must also have exactly the size and the
// SHA-256 the manifest gives for its kind: the bytes are hashed as they arrive, and a file
// that differs fails like any breach, before it gets its name.
//
// What is asked depends on what the server announced in its version answer's first dword
// (update_protocol.h): to a server that announced SERVER_CAP_PACKAGES the package request
// (installed_version, the features this launcher understands, the kept part), to any
// other server exactly "kind, 0, 0". The answer must be exactly the one asked for; a
// package answer's base must be the installed version, FULL or CUMULATIVE (the updater:
// FULL), its features only ones asked for, and with a manifest that base's line (of those
// features) must exist with the announced size, all before a byte is written. A plain
// answer is the cumulative package.
//
// A transfer answered by a package answer keeps its part beside a record of the file
// (resume_record.h). When the transfer is interrupted (the connection lost, the server's
// MSG_FILE_FAILED, a stall, Cancel) the part stays, with the bytes of a chunk cut short
// included, and CanGoOn() says another request may go on from it; the next GetFile for
// the kind asks to. A file that was gone on with is checked whole before it gets its name:
// against the manifest, or else its SHA-256 against the server's tag. The kept bytes are
// hashed from the disk a slice per step, beside the new ones, so no step blocks long.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/heap_str.h"
#include "downloader/download_observer.h"
#include "downloader/resume_record.h"
#include "net/net_client.h"
#include "platform/crypto.h"
#include "net/net_message_receiver.h"
#include "platform/replacing_file.h"
#include "protocol/package_messages.h"
#include "protocol/update_protocol.h"
#include "release/expected_file_check.h"
#include "release/release_manifest.h"

class DOWNLOADER : public NET_MESSAGE_RECEIVER {
public:
    // How long GetVelgrimInfo waits for the answer by default.
    static constexpr unsigned int kInfoTimeoutMs = 10000;
    // A transfer with no progress for this long has stalled and fails.
    static constexpr unsigned int kStallTimeoutMs = 60000;
    // File data that counts as progress: a server cannot hold the window with a trickle.
    static constexpr uint32_t kProgressBytes = 16 * 1024;
    // Part of the window's 15 ms tick that one Process may spend receiving.
    static constexpr unsigned int kReceiveBudgetMs = 8;
    // Part of it that may go to hashing the bytes a resumed file kept, and the block read.
    static constexpr unsigned int kCheckBudgetMs = 4;
    static constexpr uint32_t kCheckBlock = 1u << 20;
    // The largest size a plain answer may announce (older clients hold size + 1 bytes);
    // a package answer's 64-bit size stays below 2^63 (a file offset).
    static constexpr uint32_t kMaxFileSize = 0xFFFFFFFEu;
    static constexpr uint64_t kMaxPackageSize = (1ull << 63) - 1;
    // The package features this launcher understands: removals, compressed and delta entries.
    static constexpr uint32_t kDeltaFeatures = PACKAGE_FEATURE_DELTA;
    static constexpr uint32_t kFeatures = PACKAGE_FEATURE_REMOVALS | PACKAGE_FEATURE_ZSTD | kDeltaFeatures;
    // What a request asks for: kFeatures (without deltas once withoutDeltas is set), but
    // only removals with a signed manifest of a format that cannot name a variant (it
    // could not check one).
    uint32_t AskedFeatures() const;
    // An installed file did not match a delta's base: the version's package is asked for
    // again without deltas.
    bool withoutDeltas = false;

    // Why the last transfer was interrupted (CanGoOn): the next server is asked at once
    // after REFUSED and STALLED, the same one once after LOST.
    enum INTERRUPTION { NOT_INTERRUPTED, LOST, REFUSED, STALLED };

    DOWNLOADER();
    virtual ~DOWNLOADER();
    DOWNLOADER(const DOWNLOADER&) = delete;
    DOWNLOADER& operator=(const DOWNLOADER&) = delete;

    // Creates the client socket and connects; registers this object as the receiver.
    bool Connect(const char* address, int port);
    // The same in steps, to an address already looked up (NET_CLIENT::ConnectBegin):
    // FinishConnect returns 1 once connected and registered, 0 while under way, -1 failed.
    bool BeginConnect(const in_addr& address, int port);
    int FinishConnect(int waitMs);
    // Drops a file being written, disconnects, and clears `complete`.
    void Disconnect();
    void ProcessMessage(short id, const char* body, int length) override;
    bool TakesBodyInPieces(short id, uint32_t length) override;
    void ProcessMessagePiece(short id, const char* data, int length, uint32_t offset, bool last) override;

    uint64_t GetTotalSize() const { return total_size; }
    uint64_t GetReceivedSize() const { return received; }
    // The first dword of the last version answer (0 before one came on this connection).
    uint32_t ServerWord() const { return m_uServerWord; }
    // The base of the package being received (PACKAGE_BASE_CUMULATIVE for a plain answer).
    uint32_t PackageBase() const { return m_uBase; }
    // File bytes taken over this object's life, whatever the transfer, and kept bytes
    // checked from the disk: what a window that reconnects counts progress by.
    uint64_t BytesArrived() const { return m_uArrived; }
    INTERRUPTION Interruption() const { return m_eInterruption; }

    // Asks for the server's versions and waits at most timeoutMs for the answer. True
    // when a well-formed answer arrived (the versions and text are then stored); false
    // otherwise, with the versions left as they were.
    bool GetVelgrimInfo(unsigned int timeoutMs = kInfoTimeoutMs);
    // The same in steps: AskVelgrimInfo sends the question (false when not connected);
    // AwaitVelgrimInfo waits up to waitMs and returns 1 for a well-formed answer, -1 when
    // none can come (connection gone, answer malformed), 0 while it may still come.
    bool AskVelgrimInfo();
    int AwaitVelgrimInfo(unsigned int waitMs);
    // Holds the files of later requests to a trusted release manifest (copied); null: no
    // manifest, files are taken as the server sends them.
    void ExpectRelease(const RELEASE_MANIFEST* manifest);
    // Requests the file of `kind`, to be written into `targetDir` ("" or null: the
    // current directory) under the kind's local name, going on from a part kept for it.
    // True when the request was sent.
    bool GetFile(int kind, const char* targetDir);
    // One polling step of the connection; messages are handled inside it.
    void Process();
    // True once the file has come, the transfer has failed, or the connection is gone
    // (which fails a transfer in progress).
    bool IsCompleteOrError();
    // Sets a file being written aside (kept when it can be gone on with, else deleted) and
    // disconnects; `complete` stays as it is.
    bool Close();
    bool IsError();
    // The transfer failed in a way another connection may mend: the connection was lost,
    // the server sent MSG_FILE_FAILED or stalled, or a file gone on with failed its check
    // (its part is gone then, and the next request starts from the beginning).
    bool CanGoOn() const { return error && m_bCanGoOn; }
    // Where the last transfer started from (above 0: it went on from a kept part).
    uint64_t StartOffset() const { return m_uStart; }
    // Tells observer (not owned; null: none) about the part files of later transfers; their
    // parts are then opened so that another handle may read them.
    void Observe(DOWNLOAD_OBSERVER* observer) { m_pObserver = observer; }
    // Fails the transfer under way for a reason found outside it (its content is unsound):
    // its part is deleted. againWhole: the part may be a bad splice, the whole file may be
    // asked for again (CanGoOn), as after a failed whole check.
    void Refuse(const char* reason, bool againWhole = false);

    NET_CLIENT client;
    uint64_t total_size;
    bool complete;
    uint64_t received;
    bool error;
    bool in_progress;
    HEAP_STR file_name;
    HEAP_STR target_dir;
    HEAP_STR file_path;
    uint32_t updater_version;
    uint32_t game_version;
    std::string info_text;
    // The installed game version a package request names (version.txt; 0 unknown).
    uint32_t installed_version = 0;

    // A stall that fails a transfer; tests shorten it.
    unsigned int m_uStallTimeoutMs = kStallTimeoutMs;
    // The receive part of a step; a test of what one step takes lengthens it, so that a
    // busy machine does not cut its step short.
    unsigned int m_uReceiveBudgetMs = kReceiveBudgetMs;

private:
    void OnFileBegin(const char* body, int length);
    void OnFileData(const char* body, int length);
    void OnFileEnd();
    // Checks and writes file bytes that came; false after failing the transfer.
    bool TakeFileBytes(const char* data, uint32_t n);
    void OnInfo(const char* body, int length);
    // After the last byte and once the checks have every byte: checks, names, records.
    void FinishFile();
    // The checks the file is held to: each takes every byte of the file in order.
    bool FeedChecks(const void* data, size_t size);
    bool ChecksCaughtUp() const;
    // Hashes kept bytes from the disk for up to budgetMs; false when that failed.
    bool CatchUpChecks(unsigned int budgetMs);
    // Ends the file being written: kept for a later request when it can be gone on with
    // (with the bytes of a chunk cut short), else deleted.
    void SetFileAside();
    // Deletes the file being written and its record.
    void DiscardFile();
    // Writes what came of a chunk the connection was cut in.
    void SalvageCutChunk();
    // Ends a transfer that broke the conversation: error, file deleted, connection closed.
    void FailTransfer(const char* reason);
    // Ends a transfer that another connection may go on with: error, file kept.
    void InterruptTransfer(const char* reason, INTERRUPTION why);
    // Checks an announcement against the request, the kind and the manifest; false after
    // failing the transfer.
    bool AcceptAnnouncement(const PACKAGE_ANNOUNCEMENT& announced);
    // A new connection or a broken one: nothing asked for on it yet.
    void ForgetRequest();
    // Restarts the stall bound.
    void NoteProgress();

    DOWNLOAD_OBSERVER* m_pObserver = nullptr;
    // The observer has been told how the current part ended.
    bool m_bPartSettled = false;
    // The kind asked for by the last GetFile (0: none).
    int m_iRequestedKind = 0;
    // The file being received, under a temporary name until it is whole.
    std::unique_ptr<REPLACING_FILE> m_pOutput;
    // The release manifest the files are held to (null: none), and the check of the file
    // being received against it.
    std::unique_ptr<RELEASE_MANIFEST> m_pRelease;
    std::unique_ptr<EXPECTED_FILE_CHECK> m_pCheck;
    // Without a manifest, the whole-file hash of a file gone on with, and the server's tag
    // it must match.
    std::unique_ptr<SHA256_STREAM> m_pTagHash;
    uint32_t m_uTag = 0;
    // Bytes of the file the checks have taken; fewer than `received` while kept bytes are
    // hashed from the disk.
    uint64_t m_uChecked = 0;
    std::unique_ptr<char[]> m_pCheckBlock;
    // File bytes of the chunk being taken in pieces still to come.
    uint32_t m_uChunkLeft = 0;
    // MSG_FILE_END came and the checks are still catching up.
    bool m_bEnding = false;
    // The server's first dword of its version answer, and whether the last request was
    // the package request.
    uint32_t m_uServerWord = 0;
    bool m_bAskedPackage = false;
    uint32_t m_uAskedFeatures = 0; // of the package request under way
    // The part this request may go on from (offset 0: none).
    RESUME_POINT m_Held;
    // The package's base, the file bytes ever taken (or checked from the disk), why the
    // last transfer broke.
    uint32_t m_uBase = 0;
    uint64_t m_uArrived = 0;
    INTERRUPTION m_eInterruption = NOT_INTERRUPTED;
    // The offset the current transfer started from, and whether its part has a record
    // (so it is kept when the transfer is interrupted).
    uint64_t m_uStart = 0;
    bool m_bKeepPart = false;
    bool m_bCanGoOn = false;
    // A message is being handled: the connection's body is the one being handled.
    bool m_bInMessage = false;
    // When the transfer last made progress (or the request went out), and the file data
    // received since, short of kProgressBytes.
    uint64_t m_uLastHeardMs = 0;
    uint32_t m_uBytesSinceProgress = 0;
    // GetVelgrimInfo is waiting for the answer.
    bool m_bAwaitingInfo = false;
    // Answers to MSG_GET_INFO taken, and whether the last one was well-formed; the count
    // when the question went out.
    unsigned int m_iInfoAnswers = 0;
    unsigned int m_iInfoAnswersBefore = 0;
    bool m_bInfoValid = false;
};
