// DOWNLOADER: the client side of the update conversation. Connects to an update server,
// asks for its versions, requests one file by kind, receives it chunk by chunk into a
// temporary file beside its local name (acknowledging each chunk) and moves it into place
// when the server ends it.
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
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/heap_str.h"
#include "net/net_client.h"
#include "net/net_message_receiver.h"
#include "platform/replacing_file.h"
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
    // The largest size a server may announce (older clients hold size + 1 bytes).
    static constexpr uint32_t kMaxFileSize = 0xFFFFFFFEu;

    DOWNLOADER();
    virtual ~DOWNLOADER();
    DOWNLOADER(const DOWNLOADER&) = delete;
    DOWNLOADER& operator=(const DOWNLOADER&) = delete;

    // Creates the client socket and connects; registers this object as the receiver.
    bool Connect(const char* address, int port);
    // Drops a file being written, disconnects, and clears `complete`.
    void Disconnect();
    void ProcessMessage(short id, const char* body, int length) override;

    uint32_t GetTotalSize() const { return total_size; }
    uint32_t GetReceivedSize() const { return received; }

    // Asks for the server's versions and waits at most timeoutMs for the answer. True
    // when a well-formed answer arrived (the versions and text are then stored); false
    // otherwise, with the versions left as they were.
    bool GetVelgrimInfo(unsigned int timeoutMs = kInfoTimeoutMs);
    // Holds the files of later requests to a trusted release manifest (copied); null: no
    // manifest, files are taken as the server sends them.
    void ExpectRelease(const RELEASE_MANIFEST* manifest);
    // Requests the file of `kind`, to be written into `targetDir` ("" or null: the
    // current directory) under the kind's local name. True when the request was sent.
    bool GetFile(int kind, const char* targetDir);
    // One polling step of the connection; messages are handled inside it.
    void Process();
    // True once the file has come, the transfer has failed, or the connection is gone
    // (which fails a transfer in progress).
    bool IsCompleteOrError();
    // Drops a file being written and disconnects; `complete` stays as it is.
    bool Close();
    bool IsError();

    NET_CLIENT client;
    uint32_t total_size;
    bool complete;
    uint32_t received;
    bool error;
    bool in_progress;
    HEAP_STR file_name;
    HEAP_STR target_dir;
    HEAP_STR file_path;
    uint32_t updater_version;
    uint32_t game_version;
    std::string info_text;

    // A stall that fails a transfer; tests shorten it.
    unsigned int m_uStallTimeoutMs = kStallTimeoutMs;

private:
    void OnFileBegin(const char* body, int length);
    void OnFileData(const char* body, int length);
    void OnFileEnd();
    void OnInfo(const char* body, int length);
    // Ends a transfer that broke the conversation: error, file dropped, connection closed.
    void DropFile();
    void FailTransfer(const char* reason);
    // Restarts the stall bound.
    void NoteProgress();

    // The kind asked for by the last GetFile (0: none).
    int m_iRequestedKind = 0;
    // The file being received, under a temporary name until it is whole.
    std::unique_ptr<REPLACING_FILE> m_pOutput;
    // The release manifest the files are held to (null: none), and the check of the file
    // being received against it.
    std::unique_ptr<RELEASE_MANIFEST> m_pRelease;
    std::unique_ptr<EXPECTED_FILE_CHECK> m_pCheck;
    // When the transfer last made progress (or the request went out), and the file data
    // received since, short of kProgressBytes.
    uint64_t m_uLastHeardMs = 0;
    uint32_t m_uBytesSinceProgress = 0;
    // GetVelgrimInfo is waiting for the answer.
    bool m_bAwaitingInfo = false;
    // Answers to MSG_GET_INFO taken, and whether the last one was well-formed.
    unsigned int m_iInfoAnswers = 0;
    bool m_bInfoValid = false;
};
