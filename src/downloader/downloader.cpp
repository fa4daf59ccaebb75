#include "downloader/downloader.h"

#include <cstring>
#include <new>

#include "common/guard.h"
#include "common/trace_log.h"
#include "downloader/download_file_name.h"
#include "common/set_formatted.h"
#include "net/net_message_helper.h"
#include "protocol/update_messages.h"
#include "platform/clock.h"
#include "platform/replacing_file.h"

DOWNLOADER::DOWNLOADER()
    : total_size(0),
      complete(false),
      write_pos(nullptr),
      receive_buffer(nullptr),
      file_handle(INVALID_HANDLE_VALUE),
      received(0),
      error(false),
      in_progress(false),
      updater_version(0xFFFFFFFFu),
      game_version(0)
{
}

DOWNLOADER::~DOWNLOADER()
{
    try {
        Disconnect();
    } catch (...) {
        // Already reported by the common handler; a destructor lets nothing out.
    }
    FreeBuffer();
}

bool DOWNLOADER::Connect(const char* address, int port)
{
    RX_GUARD_BEGIN
    if (!client.Init())
        return false;
    if (!client.Connect(address, static_cast<unsigned short>(port)))
        return false;
    client.m_pConnect->m_pReceiver = this;
    return true;
    RX_GUARD_END("DOWNLOADER::Connect")
}

void DOWNLOADER::Disconnect()
{
    RX_GUARD_BEGIN
    if (file_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(file_handle);
        file_handle = INVALID_HANDLE_VALUE;
    }
    client.Disconnect();
    complete = false;
    RX_GUARD_END("DOWNLOADER::Disconnect")
}

void DOWNLOADER::ProcessMessage(short id, const char* body, int length)
{
    RX_GUARD_BEGIN
    switch (id) {
    case MSG_FILE_BEGIN:
        OnFileBegin(body, length);
        break;
    case MSG_FILE_DATA:
        OnFileData(body, length);
        break;
    case MSG_FILE_END:
        OnFileEnd();
        break;
    case MSG_FILE_FAILED:
        Close();
        error = true;
        break;
    case MSG_GET_INFO:
        OnInfo(body, length);
        break;
    default:
        // MSG_FILE_DATA_ACK and anything outside the conversation.
        break;
    }
    RX_GUARD_END("DOWNLOADER::ProcessMessage")
}

void DOWNLOADER::OnFileBegin(const char* body, int length)
{
    if (receive_buffer != nullptr) {
        FailTransfer("a second MSG_FILE_BEGIN during a transfer");
        return;
    }
    FILE_ANNOUNCEMENT announced;
    if (!ReadFileAnnouncement(body, length, &announced)) {
        FailTransfer("a malformed MSG_FILE_BEGIN");
        return;
    }
    const uint32_t size = announced.size;
    file_name.Assign(announced.name.c_str());
    total_size = size;
    if (!IsPlainDownloadName(file_name.Get())) {
        FailTransfer("the server named a file that is not a plain file name");
        return;
    }
    if (size > kMaxFileSize) {
        FailTransfer("the announced size is too large");
        return;
    }

    const char* dir = target_dir.Get() != nullptr ? target_dir.Get() : "";
    if (dir[0] != '\0') {
        CreateDirectoryA(dir, nullptr);
        SetFormatted(file_path, "%s/%s", dir, file_name.Get());
    } else {
        file_path.Assign(file_name.Get());
    }

    receive_buffer = new (std::nothrow) char[static_cast<size_t>(size) + 1];
    if (receive_buffer == nullptr) {
        FailTransfer("no memory for the announced size");
        return;
    }
    write_pos = receive_buffer;
}

void DOWNLOADER::OnFileData(const char* body, int length)
{
    if (receive_buffer == nullptr) {
        FailTransfer("MSG_FILE_DATA before MSG_FILE_BEGIN");
        return;
    }
    const char* chunk = nullptr;
    int n = 0;
    if (!ReadFileData(body, length, &chunk, &n)) {
        FailTransfer("a malformed MSG_FILE_DATA");
        return;
    }
    if (static_cast<uint32_t>(n) > total_size - received) {
        FailTransfer("a chunk past the announced size");
        return;
    }
    received += static_cast<uint32_t>(n);
    if (n > 0)
        std::memcpy(write_pos, chunk, static_cast<size_t>(n));
    write_pos += n;
    client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
}

void DOWNLOADER::OnFileEnd()
{
    if (receive_buffer == nullptr) {
        FailTransfer("MSG_FILE_END without a transfer");
        return;
    }
    in_progress = false;
    complete = true;
    error = false;
    if (received != total_size) {
        RX_ERROR("DOWNLOADER: the transfer ended after %u of %u bytes", received, total_size);
        error = true;
    } else if (!WriteReceivedFile()) {
        error = true;
    }
    file_handle = INVALID_HANDLE_VALUE;
    received = 0;
    FreeBuffer();
    Close();
}

void DOWNLOADER::OnInfo(const char* body, int length)
{
    VERSION_INFO info;
    ++m_iInfoAnswers;
    m_bInfoValid = ReadVersionInfo(body, length, &info);
    if (!m_bInfoValid) {
        RX_ERROR("DOWNLOADER: a malformed MSG_GET_INFO answer");
        return;
    }
    game_version = info.gameVersion;
    info_text = info.infoText;
    updater_version = info.updaterVersion;
}

void DOWNLOADER::FailTransfer(const char* reason)
{
    RX_ERROR("DOWNLOADER: transfer failed: %s", reason);
    error = true;
    FreeBuffer();
    Close();
}

void DOWNLOADER::FreeBuffer()
{
    delete[] receive_buffer;
    receive_buffer = nullptr;
    write_pos = nullptr;
}

bool DOWNLOADER::WriteReceivedFile()
{
    REPLACING_FILE out(file_path.Get());
    if (!out.Create()) {
        RX_ERROR("DOWNLOADER: cannot create %s, error %u", out.TempPath().c_str(), static_cast<unsigned>(out.Error()));
        return false;
    }
    if (!out.Write(receive_buffer, received) || !out.Commit()) {
        RX_ERROR("DOWNLOADER: cannot write %s whole (%u bytes), error %u", file_path.Get(), received,
                 static_cast<unsigned>(out.Error()));
        return false;
    }
    SetFileAttributesA(file_path.Get(), FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool DOWNLOADER::GetVelgrimInfo(unsigned int timeoutMs)
{
    RX_GUARD_BEGIN
    if (!client.IsConnected())
        return false;
    NET_MESSAGE_HELPER request;
    request.Send(client.m_pConnect, MSG_GET_INFO);
    const unsigned int answersBefore = m_iInfoAnswers;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        const uint64_t now = MonotonicMs();
        const unsigned int left = now < deadline ? static_cast<unsigned int>(deadline - now) : 0;
        const bool delivered = client.m_pConnect->ProcessDoTransfercomplete(left);
        if (m_iInfoAnswers != answersBefore)
            return m_bInfoValid;
        // Another message ended the wait: keep waiting for the answer while time is left.
        if (!delivered || left == 0)
            return false;
    }
    RX_GUARD_END("DOWNLOADER::GetVelgrimInfo")
}

bool DOWNLOADER::GetFile(int kind, const char* targetDir)
{
    RX_GUARD_BEGIN
    target_dir.Assign(targetDir != nullptr ? targetDir : "");
    error = false;
    if (!client.IsConnected()) {
        error = true;
        return false;
    }
    received = 0;
    // A new request starts from nothing, whatever an earlier one left behind.
    FreeBuffer();
    NET_MESSAGE_HELPER request;
    WriteFileRequest(request, static_cast<uint32_t>(kind));
    request.Send(client.m_pConnect, MSG_GET_FILE);
    total_size = 0;
    file_name.Assign("");
    in_progress = true;
    return true;
    RX_GUARD_END("DOWNLOADER::GetFile")
}

void DOWNLOADER::Process()
{
    RX_GUARD_BEGIN
    client.Process();
    RX_GUARD_END("DOWNLOADER::Process")
}

bool DOWNLOADER::IsCompleteOrError()
{
    RX_GUARD_BEGIN
    if (!client.IsConnected()) {
        if (in_progress)
            error = true;
        return true;
    }
    return complete || error;
    RX_GUARD_END("DOWNLOADER::IsCompleteOrError")
}

bool DOWNLOADER::Close()
{
    RX_GUARD_BEGIN
    if (file_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(file_handle);
        file_handle = INVALID_HANDLE_VALUE;
    }
    return client.Disconnect();
    RX_GUARD_END("DOWNLOADER::Close")
}

bool DOWNLOADER::IsError()
{
    RX_GUARD_BEGIN
    return error;
    RX_GUARD_END("DOWNLOADER::IsError")
}
