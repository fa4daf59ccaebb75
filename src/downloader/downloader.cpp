#include "downloader/downloader.h"

#include "common/ascii_case.h"
#include "common/guard.h"
#include "common/set_formatted.h"
#include "common/trace_log.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "protocol/update_messages.h"

DOWNLOADER::DOWNLOADER()
    : total_size(0),
      complete(false),
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
    Close();
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
    if (m_pOutput != nullptr) {
        FailTransfer("a second MSG_FILE_BEGIN during a transfer");
        return;
    }
    if (!in_progress) {
        FailTransfer("MSG_FILE_BEGIN without a request");
        return;
    }
    FILE_ANNOUNCEMENT announced;
    if (!ReadFileAnnouncement(body, length, &announced)) {
        FailTransfer("a malformed MSG_FILE_BEGIN");
        return;
    }
    file_name.Assign(announced.name.c_str());
    total_size = announced.size;
    // The file is the one asked for, under the kind's own name, or nothing at all: a
    // server must not name the game, the launcher or another file it pleases.
    const char* expected = FileKindName(m_iRequestedKind);
    if (expected == nullptr || !EqualsIgnoringCase(announced.name.c_str(), expected)) {
        RX_ERROR("DOWNLOADER: asked for kind %d (%s), the server announced \"%s\"", m_iRequestedKind,
                 expected != nullptr ? expected : "unknown", announced.name.c_str());
        FailTransfer("the announced file is not the one asked for");
        return;
    }
    if (announced.size > kMaxFileSize) {
        FailTransfer("the announced size is too large");
        return;
    }
    if (m_pRelease != nullptr) {
        // Nothing the manifest does not name is downloaded, not even a byte of it.
        const MANIFEST_FILE* signedFile = m_pRelease->FileOfKind(m_iRequestedKind);
        if (signedFile == nullptr) {
            FailTransfer("the release manifest names no file of this kind");
            return;
        }
        if (announced.size != signedFile->size) {
            RX_ERROR("DOWNLOADER: the server announced %u bytes, the release manifest %u", announced.size,
                     signedFile->size);
            FailTransfer("the announced size is not the release manifest's");
            return;
        }
        m_pCheck.reset(new EXPECTED_FILE_CHECK(*signedFile));
    }

    const char* dir = target_dir.Get() != nullptr ? target_dir.Get() : "";
    if (dir[0] != '\0') {
        CreateDirectoryA(dir, nullptr);
        SetFormatted(file_path, "%s/%s", dir, expected);
    } else {
        file_path.Assign(expected);
    }
    m_pOutput.reset(new REPLACING_FILE(file_path.Get()));
    if (!m_pOutput->Create()) {
        RX_ERROR("DOWNLOADER: cannot create %s, error %u", m_pOutput->TempPath().c_str(),
                 static_cast<unsigned>(m_pOutput->Error()));
        FailTransfer("the file cannot be created");
        return;
    }
    NoteProgress();
}

void DOWNLOADER::OnFileData(const char* body, int length)
{
    if (m_pOutput == nullptr) {
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
    if (m_pCheck != nullptr && !m_pCheck->Feed(chunk, static_cast<size_t>(n))) {
        FailTransfer("the file cannot be checked against the release manifest");
        return;
    }
    // The chunk goes to disk at once: memory does not grow with the file, and a disk that
    // does not take it fails the transfer now rather than at the end.
    if (!m_pOutput->Write(chunk, static_cast<size_t>(n))) {
        RX_ERROR("DOWNLOADER: cannot write %s (%u of %u bytes written), error %u", m_pOutput->TempPath().c_str(),
                 received, total_size, static_cast<unsigned>(m_pOutput->Error()));
        FailTransfer("the file cannot be written");
        return;
    }
    received += static_cast<uint32_t>(n);
    client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
    m_uBytesSinceProgress += static_cast<uint32_t>(n);
    if (m_uBytesSinceProgress >= kProgressBytes)
        NoteProgress();
}

void DOWNLOADER::OnFileEnd()
{
    if (m_pOutput == nullptr) {
        FailTransfer("MSG_FILE_END without a transfer");
        return;
    }
    in_progress = false;
    complete = true;
    error = false;
    NoteProgress();
    std::string problem;
    if (received != total_size) {
        RX_ERROR("DOWNLOADER: the transfer ended after %u of %u bytes", received, total_size);
        error = true;
    } else if (m_pCheck != nullptr && !m_pCheck->Finish(&problem)) {
        // Whatever the mirror sent, it is not the file the studio signed: it never gets the
        // name under which it would be unpacked or started.
        RX_ERROR("DOWNLOADER: %s is not the file of the release manifest: %s", file_path.Get(), problem.c_str());
        error = true;
    } else if (!m_pOutput->Commit()) {
        RX_ERROR("DOWNLOADER: cannot move %s over %s, error %u", m_pOutput->TempPath().c_str(), file_path.Get(),
                 static_cast<unsigned>(m_pOutput->Error()));
        error = true;
    } else {
        SetFileAttributesA(file_path.Get(), FILE_ATTRIBUTE_NORMAL);
    }
    received = 0;
    Close();
}

void DOWNLOADER::OnInfo(const char* body, int length)
{
    // An answer nobody waits for (one pushed during a transfer) changes nothing.
    if (!m_bAwaitingInfo) {
        RX_ERROR("DOWNLOADER: a MSG_GET_INFO answer that was not asked for is ignored");
        return;
    }
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

void DOWNLOADER::DropFile()
{
    // A file not received whole never gets its final name.
    m_pOutput.reset();
    m_pCheck.reset();
}

void DOWNLOADER::NoteProgress()
{
    m_uLastHeardMs = MonotonicMs();
    m_uBytesSinceProgress = 0;
}

void DOWNLOADER::FailTransfer(const char* reason)
{
    RX_ERROR("DOWNLOADER: transfer failed: %s", reason);
    error = true;
    Close();
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
    m_bAwaitingInfo = true;
    bool answered = false;
    for (;;) {
        const uint64_t now = MonotonicMs();
        const unsigned int left = now < deadline ? static_cast<unsigned int>(deadline - now) : 0;
        const bool delivered = client.m_pConnect->ProcessDoTransfercomplete(left);
        if (m_iInfoAnswers != answersBefore) {
            answered = m_bInfoValid;
            break;
        }
        // Another message ended the wait: keep waiting for the answer while time is left.
        if (!delivered || left == 0)
            break;
    }
    m_bAwaitingInfo = false;
    return answered;
    RX_GUARD_END("DOWNLOADER::GetVelgrimInfo")
}

void DOWNLOADER::ExpectRelease(const RELEASE_MANIFEST* manifest)
{
    RX_GUARD_BEGIN
    m_pRelease.reset(manifest != nullptr ? new RELEASE_MANIFEST(*manifest) : nullptr);
    RX_GUARD_END("DOWNLOADER::ExpectRelease")
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
    DropFile();
    m_iRequestedKind = kind;
    NET_MESSAGE_HELPER request;
    WriteFileRequest(request, static_cast<uint32_t>(kind));
    request.Send(client.m_pConnect, MSG_GET_FILE);
    total_size = 0;
    file_name.Assign("");
    in_progress = true;
    NoteProgress();
    return true;
    RX_GUARD_END("DOWNLOADER::GetFile")
}

void DOWNLOADER::Process()
{
    RX_GUARD_BEGIN
    // At the window's pace one receive a tick would take at most a socket buffer a tick,
    // far below a fast link: the step goes on while bytes wait, for a part of the tick.
    if (client.m_pConnect != nullptr)
        client.m_pConnect->ProcessFor(kReceiveBudgetMs);
    // A server that announces a file and then falls silent, trickles bytes, or sends
    // frames that carry no file does not keep the player waiting for ever.
    if (in_progress && !error && client.IsConnected() && MonotonicMs() - m_uLastHeardMs >= m_uStallTimeoutMs) {
        RX_ERROR("DOWNLOADER: no progress from the server for %u ms", m_uStallTimeoutMs);
        FailTransfer("the transfer stalled");
    }
    RX_GUARD_END("DOWNLOADER::Process")
}

bool DOWNLOADER::IsCompleteOrError()
{
    RX_GUARD_BEGIN
    if (!client.IsConnected()) {
        if (in_progress) {
            error = true;
            DropFile();
        }
        return true;
    }
    return complete || error;
    RX_GUARD_END("DOWNLOADER::IsCompleteOrError")
}

bool DOWNLOADER::Close()
{
    RX_GUARD_BEGIN
    DropFile();
    return client.Disconnect();
    RX_GUARD_END("DOWNLOADER::Close")
}

bool DOWNLOADER::IsError()
{
    RX_GUARD_BEGIN
    return error;
    RX_GUARD_END("DOWNLOADER::IsError")
}
