// DOWNLOADER: the client side of the update conversation. Connects to an update server,
// asks for its versions, requests one file by kind, receives it chunk by chunk into
// memory (acknowledging each chunk) and writes it to disk when the server ends it.
//
//     downloader.Connect(address, port);
//     if (downloader.GetVelgrimInfo()) ... game_version, updater_version, info_text ...
//     downloader.GetFile(FILE_KIND_PATCH, "");
//     while (!downloader.IsCompleteOrError()) downloader.Process();   // one per tick
//     downloader.Disconnect(); ... downloader.IsError() ...
//
// A transfer that breaks the protocol (a chunk outside the announced size, a chunk before
// the announcement, a second announcement, a name that is not a plain file name, a size
// whose buffer cannot be had, an end before every byte came) fails: `error` is set, the
// connection is closed and nothing is written. The file goes to a temporary name first
// and replaces the final name only when it was written whole.
#pragma once

#include <cstdint>
#include <string>

#include "common/heap_str.h"
#include "protocol/update_protocol.h"
#include "net/net_client.h"
#include "net/net_message_receiver.h"
#include "platform/files.h"

class DOWNLOADER : public NET_MESSAGE_RECEIVER {
public:
    // How long GetVelgrimInfo waits for the answer by default.
    static constexpr unsigned int kInfoTimeoutMs = 10000;
    // The largest announced size: its buffer (size + 1 bytes) must fit in 32 bits.
    static constexpr uint32_t kMaxFileSize = 0xFFFFFFFEu;

    DOWNLOADER();
    virtual ~DOWNLOADER();
    DOWNLOADER(const DOWNLOADER&) = delete;
    DOWNLOADER& operator=(const DOWNLOADER&) = delete;

    // Creates the client socket and connects; registers this object as the receiver.
    bool Connect(const char* address, int port);
    // Closes an open output file, disconnects, and clears `complete`.
    void Disconnect();
    void ProcessMessage(short id, const char* body, int length) override;

    uint32_t GetTotalSize() const { return total_size; }
    uint32_t GetReceivedSize() const { return received; }

    // Asks for the server's versions and waits at most timeoutMs for the answer. True
    // when a well-formed answer arrived (the versions and text are then stored); false
    // otherwise, with the versions left as they were.
    bool GetVelgrimInfo(unsigned int timeoutMs = kInfoTimeoutMs);
    // Requests the file of `kind`, to be written into `targetDir` ("" or null: the
    // current directory). True when the request was sent.
    bool GetFile(int kind, const char* targetDir);
    // One polling step of the connection; messages are handled inside it.
    void Process();
    // True once the file has come, the transfer has failed, or the connection is gone
    // (which fails a transfer in progress).
    bool IsCompleteOrError();
    // Closes an open output file and disconnects; `complete` stays as it is.
    bool Close();
    bool IsError();

    NET_CLIENT client;
    uint32_t total_size;
    bool complete;
    char* write_pos;
    char* receive_buffer;
    HANDLE file_handle;
    uint32_t received;
    bool error;
    bool in_progress;
    HEAP_STR file_name;
    HEAP_STR target_dir;
    HEAP_STR file_path;
    uint32_t updater_version;
    uint32_t game_version;
    std::string info_text;

private:
    void OnFileBegin(const char* body, int length);
    void OnFileData(const char* body, int length);
    void OnFileEnd();
    void OnInfo(const char* body, int length);
    // Ends a transfer that broke the protocol: error, buffer dropped, connection closed.
    void FailTransfer(const char* reason);
    void FreeBuffer();
    // Writes the received bytes under a temporary name and moves them over file_path.
    bool WriteReceivedFile();

    // Answers to MSG_GET_INFO seen, and whether the last one was well-formed.
    unsigned int m_iInfoAnswers = 0;
    bool m_bInfoValid = false;
};
