#include "downloader/downloader.h"

#include "common/ascii_case.h"
#include "common/guard.h"
#include "common/set_formatted.h"
#include "common/trace_log.h"
#include "downloader/resume_record.h"
#include "net/net_byte_order.h"
#include "net/net_message_helper.h"
#include "platform/clock.h"
#include "protocol/update_messages.h"

namespace {

// While a message is handled, the connection's body is the one being handled: there is no
// cut chunk to salvage.
struct IN_MESSAGE {
    bool& flag;
    explicit IN_MESSAGE(bool& f) : flag(f) { flag = true; }
    ~IN_MESSAGE() { flag = false; }
};

// The whole-file hash of a file gone on with names the server's file.
bool TagMatches(SHA256_STREAM& hash, uint32_t tag)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    return hash.Final(digest) && ResumeTagOfDigest(digest) == tag;
}

} // namespace

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
    ForgetRequest();
    return true;
    RX_GUARD_END("DOWNLOADER::Connect")
}

bool DOWNLOADER::BeginConnect(const in_addr& address, int port)
{
    RX_GUARD_BEGIN
    SetFileAside();
    m_bAwaitingInfo = false;
    ForgetRequest();
    return client.ConnectBegin(address, static_cast<unsigned short>(port));
    RX_GUARD_END("DOWNLOADER::BeginConnect")
}

int DOWNLOADER::FinishConnect(int waitMs)
{
    RX_GUARD_BEGIN
    const int state = client.ConnectFinish(waitMs);
    if (state == 1)
        client.m_pConnect->m_pReceiver = this;
    return state;
    RX_GUARD_END("DOWNLOADER::FinishConnect")
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
    IN_MESSAGE inMessage(m_bInMessage);
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
        InterruptTransfer("the server sent MSG_FILE_FAILED", REFUSED);
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

bool DOWNLOADER::TakesBodyInPieces(short id, uint32_t length)
{
    // A large chunk goes to the checks and the disk as it arrives; small frames, and any
    // before the announcement, are taken whole.
    return id == MSG_FILE_DATA && m_pOutput != nullptr && length > static_cast<uint32_t>(NET_CONNECT::kMinPieceBytes);
}

void DOWNLOADER::ProcessMessagePiece(short id, const char* data, int length, uint32_t offset, bool last)
{
    RX_GUARD_BEGIN
    IN_MESSAGE inMessage(m_bInMessage);
    if (id != MSG_FILE_DATA || m_pOutput == nullptr)
        return;
    if (offset == 0) {
        // The chunk's count leads its body (a piece holds more than it); bytes after the
        // counted ones are not the file's, as in a chunk taken whole.
        const uint32_t frame = client.m_pConnect != nullptr ? client.m_pConnect->IncomingLength() : 0;
        const uint32_t n = LoadLe32(data);
        if (length < 4 || n > 0x7FFFFFFFu || n > frame - 4) {
            FailTransfer("a malformed MSG_FILE_DATA");
            return;
        }
        if (static_cast<uint64_t>(n) > total_size - received) {
            FailTransfer("a chunk past the announced size");
            return;
        }
        m_uChunkLeft = n;
        data += 4;
        length -= 4;
    }
    const uint32_t take = static_cast<uint32_t>(length) < m_uChunkLeft ? static_cast<uint32_t>(length) : m_uChunkLeft;
    if (take > 0 && !TakeFileBytes(data, take))
        return;
    m_uChunkLeft -= take;
    if (last)
        client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
    RX_GUARD_END("DOWNLOADER::ProcessMessagePiece")
}

bool DOWNLOADER::AcceptAnnouncement(const PACKAGE_ANNOUNCEMENT& announced)
{
    // The file is the one asked for, under the kind's own name, or nothing at all: a
    // server must not name the game, the launcher or another file it pleases.
    const char* expected = FileKindName(m_iRequestedKind);
    if (expected == nullptr || !EqualsIgnoringCase(announced.name.c_str(), expected)) {
        RX_ERROR("DOWNLOADER: asked for kind %d (%s), the server announced \"%s\"", m_iRequestedKind,
                 expected != nullptr ? expected : "unknown", announced.name.c_str());
        FailTransfer("the announced file is not the one asked for");
        return false;
    }
    if (announced.extended ? announced.size > kMaxPackageSize : announced.size > kMaxFileSize) {
        FailTransfer("the announced size is too large");
        return false;
    }
    // A package made from another version than the installed one would record the new
    // version over files that are not its own.
    const bool updater = m_iRequestedKind == FILE_KIND_UPDATER;
    const uint32_t base = announced.extended ? announced.base : updater ? PACKAGE_BASE_FULL : PACKAGE_BASE_CUMULATIVE;
    const bool baseFits = updater ? base == PACKAGE_BASE_FULL
                                  : base == PACKAGE_BASE_FULL || base == PACKAGE_BASE_CUMULATIVE ||
                                        base == installed_version;
    if (!baseFits) {
        RX_ERROR("DOWNLOADER: the server sends a package made from version %u; installed is %u", base,
                 installed_version);
        FailTransfer("the package is not made for the installed version");
        return false;
    }
    // A package that needs what was not asked for could not be applied.
    if ((announced.features & ~m_uAskedFeatures) != 0) {
        RX_ERROR("DOWNLOADER: the server sends a package with features %08x; asked for %08x", announced.features,
                 m_uAskedFeatures);
        FailTransfer("the package needs features that were not asked for");
        return false;
    }
    m_uBase = base;
    if (m_pRelease != nullptr) {
        // Nothing the manifest does not name is downloaded, not even a byte of it.
        const MANIFEST_FILE* signedFile = updater ? m_pRelease->FileOfKind(m_iRequestedKind) : nullptr;
        // The variant the answer names (a format 1 or 2 manifest was asked for plain ones
        // only); a delta package is the delta variant whether or not it also has
        // compressed entries.
        const uint32_t variant = (announced.features & PACKAGE_FEATURE_DELTA) != 0
                                     ? PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA
                                     : announced.features & PACKAGE_FEATURE_ZSTD;
        const MANIFEST_PACKAGE* signedPackage = updater ? nullptr : m_pRelease->PackageOf(base, variant);
        if (signedFile == nullptr && signedPackage == nullptr) {
            RX_ERROR("DOWNLOADER: the release manifest names no %s made from %u", expected, base);
            FailTransfer("the release manifest names no such file");
            return false;
        }
        const uint64_t signedSize = signedFile != nullptr ? signedFile->size : signedPackage->size;
        if (announced.size != signedSize) {
            RX_ERROR("DOWNLOADER: the server announced %llu bytes, the release manifest %llu",
                     static_cast<unsigned long long>(announced.size), static_cast<unsigned long long>(signedSize));
            FailTransfer("the announced size is not the release manifest's");
            return false;
        }
        m_pCheck.reset(signedFile != nullptr ? new EXPECTED_FILE_CHECK(*signedFile)
                                             : new EXPECTED_FILE_CHECK(*signedPackage));
    }
    // A server goes on from the part asked for, inside the file it had when the part was
    // kept, or starts again.
    if (announced.start != 0 &&
        (announced.start != m_Held.offset || announced.tag != m_Held.tag || announced.start >= announced.size ||
         announced.size != m_Held.size)) {
        RX_ERROR("DOWNLOADER: asked to go on from byte %llu of %llu (tag %08x), the server goes on from %llu of %llu "
                 "(tag %08x)",
                 static_cast<unsigned long long>(m_Held.offset), static_cast<unsigned long long>(m_Held.size),
                 m_Held.tag, static_cast<unsigned long long>(announced.start),
                 static_cast<unsigned long long>(announced.size), announced.tag);
        FailTransfer("the server goes on from a part that was not asked for");
        return false;
    }
    return true;
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
    PACKAGE_ANNOUNCEMENT announced;
    const bool featured = m_bAskedPackage && (m_uAskedFeatures & (PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA)) != 0;
    if (!ReadAnsweredAnnouncement(body, length, m_bAskedPackage, &announced, featured)) {
        FailTransfer(m_bAskedPackage ? "a MSG_FILE_BEGIN that is not a package answer"
                                     : "a MSG_FILE_BEGIN that is not the plain answer");
        return;
    }
    file_name.Assign(announced.name.c_str());
    total_size = announced.size;
    if (!AcceptAnnouncement(announced))
        return;
    const char* expected = FileKindName(m_iRequestedKind);
    const uint64_t start = announced.start;

    const char* dir = target_dir.Get() != nullptr ? target_dir.Get() : "";
    if (dir[0] != '\0') {
        CreateDirectoryA(dir, nullptr);
        SetFormatted(file_path, "%s/%s", dir, expected);
    } else {
        file_path.Assign(expected);
    }
    m_pOutput.reset(new REPLACING_FILE(file_path.Get()));
    if (m_pObserver != nullptr)
        m_pOutput->ShareReading();
    m_bPartSettled = false;
    m_uStart = start;
    m_uChecked = 0;
    m_uTag = announced.tag;
    if (start > 0) {
        if (!m_pOutput->Reopen(start)) {
            RX_ERROR("DOWNLOADER: cannot reopen %s at byte %llu, error %u", m_pOutput->TempPath().c_str(),
                     static_cast<unsigned long long>(start), static_cast<unsigned>(m_pOutput->Error()));
            FailTransfer("the kept part cannot be reopened");
            return;
        }
        m_bKeepPart = true;
        received = start;
        // The kept bytes are checked with the new ones: the manifest's hash, or the tag's.
        if (m_pCheck == nullptr)
            m_pTagHash.reset(new SHA256_STREAM);
        if (m_pObserver != nullptr)
            m_pObserver->OnPartBegin(m_iRequestedKind, m_pOutput->TempPath(), total_size, start, m_uTag);
        return;
    }
    // Whatever part was held belongs to another file now.
    RemoveResumeRecord(file_path.Get());
    if (!m_pOutput->Create()) {
        RX_ERROR("DOWNLOADER: cannot create %s, error %u", m_pOutput->TempPath().c_str(),
                 static_cast<unsigned>(m_pOutput->Error()));
        FailTransfer("the file cannot be created");
        return;
    }
    RESUME_RECORD record;
    record.kind = static_cast<uint32_t>(m_iRequestedKind);
    record.size = total_size;
    record.tag = announced.tag;
    record.base = announced.base;
    // Tags 0 and 1 say something else in a request: a file under one is not gone on with.
    const bool resumable = announced.extended && announced.tag >= 2;
    m_bKeepPart = resumable && WriteResumeRecord(file_path.Get(), record);
    if (resumable && !m_bKeepPart)
        RX_ERROR("DOWNLOADER: cannot record %s for later; an interruption starts it again", file_path.Get());
    if (m_pObserver != nullptr)
        m_pObserver->OnPartBegin(m_iRequestedKind, m_pOutput->TempPath(), total_size, 0, m_uTag);
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
    if (static_cast<uint64_t>(n) > total_size - received) {
        FailTransfer("a chunk past the announced size");
        return;
    }
    if (TakeFileBytes(chunk, static_cast<uint32_t>(n)))
        client.m_pConnect->Send_iMsg(MSG_FILE_DATA_ACK, nullptr, 0);
}

bool DOWNLOADER::TakeFileBytes(const char* data, uint32_t n)
{
    // Bytes are hashed as they come once the kept ones are (until then, from the disk).
    const bool checkNow = m_uChecked == received;
    if (checkNow && !FeedChecks(data, n)) {
        FailTransfer("the file cannot be checked");
        return false;
    }
    // The bytes go to disk at once: memory does not grow with the file, and a disk that
    // does not take them fails the transfer now rather than at the end.
    if (!m_pOutput->Write(data, n)) {
        RX_ERROR("DOWNLOADER: cannot write %s (%llu of %llu bytes written), error %u", m_pOutput->TempPath().c_str(),
                 static_cast<unsigned long long>(received), static_cast<unsigned long long>(total_size),
                 static_cast<unsigned>(m_pOutput->Error()));
        FailTransfer("the file cannot be written");
        return false;
    }
    received += n;
    m_uArrived += n;
    if (checkNow)
        m_uChecked = received;
    m_uBytesSinceProgress += n;
    if (m_uBytesSinceProgress >= kProgressBytes)
        NoteProgress();
    return true;
}

void DOWNLOADER::OnFileEnd()
{
    if (m_pOutput == nullptr) {
        FailTransfer("MSG_FILE_END without a transfer");
        return;
    }
    in_progress = false;
    // The conversation is over; the file is finished once the checks have every byte.
    m_bEnding = true;
    client.Disconnect();
    if (received != total_size || ChecksCaughtUp())
        FinishFile();
}

void DOWNLOADER::FinishFile()
{
    if (m_pObserver != nullptr && received == total_size)
        m_pObserver->OnPartOnDisk(received);
    m_bEnding = false;
    complete = true;
    error = false;
    NoteProgress();
    std::string problem;
    bool checked = true;
    if (received != total_size) {
        RX_ERROR("DOWNLOADER: the transfer ended after %llu of %llu bytes", static_cast<unsigned long long>(received),
                 static_cast<unsigned long long>(total_size));
        error = true;
    } else if (m_pCheck != nullptr && !m_pCheck->Finish(&problem)) {
        // Whatever the mirror sent, it is not the file the studio signed: it never gets the
        // name under which it would be unpacked or started.
        RX_ERROR("DOWNLOADER: %s is not the file of the release manifest: %s", file_path.Get(), problem.c_str());
        error = true;
        checked = false;
    } else if (m_pTagHash != nullptr && !TagMatches(*m_pTagHash, m_uTag)) {
        RX_ERROR("DOWNLOADER: %s, gone on with from byte %llu, is not the server's file (tag %08x)", file_path.Get(),
                 static_cast<unsigned long long>(m_uStart), m_uTag);
        error = true;
        checked = false;
    } else if (!m_pOutput->Commit()) {
        RX_ERROR("DOWNLOADER: cannot move %s over %s, error %u", m_pOutput->TempPath().c_str(), file_path.Get(),
                 static_cast<unsigned>(m_pOutput->Error()));
        error = true;
    } else {
        SetFileAttributesA(file_path.Get(), FILE_ATTRIBUTE_NORMAL);
        RemoveResumeRecord(file_path.Get());
    }
    // A file gone on with that fails its check may be a bad splice: its part goes, and
    // the whole file may be asked for again.
    m_bCanGoOn = !checked && m_uStart > 0;
    if (error) {
        DiscardFile();
    } else if (m_pObserver != nullptr) {
        m_bPartSettled = true;
        m_pObserver->OnPartComplete(file_path.Get());
    }
    m_bKeepPart = false;
    received = 0;
    Close();
}

bool DOWNLOADER::FeedChecks(const void* data, size_t size)
{
    if (m_pCheck != nullptr)
        return m_pCheck->Feed(data, size);
    if (m_pTagHash != nullptr)
        return m_pTagHash->Update(data, size);
    return true;
}

bool DOWNLOADER::ChecksCaughtUp() const
{
    return m_uChecked == received;
}

bool DOWNLOADER::CatchUpChecks(unsigned int budgetMs)
{
    if (m_pCheck == nullptr && m_pTagHash == nullptr) {
        m_uChecked = received;
        return true;
    }
    if (m_pCheckBlock == nullptr)
        m_pCheckBlock.reset(new char[kCheckBlock]);
    const uint64_t until = MonotonicMs() + budgetMs;
    while (m_uChecked < received) {
        const uint32_t n = received - m_uChecked < kCheckBlock ? static_cast<uint32_t>(received - m_uChecked)
                                                               : kCheckBlock;
        if (!m_pOutput->ReadAt(m_uChecked, m_pCheckBlock.get(), n) || !FeedChecks(m_pCheckBlock.get(), n)) {
            RX_ERROR("DOWNLOADER: cannot read back %s at byte %llu to check it, error %u",
                     m_pOutput->TempPath().c_str(), static_cast<unsigned long long>(m_uChecked),
                     static_cast<unsigned>(GetLastError()));
            return false;
        }
        m_uChecked += n;
        m_uArrived += n;
        if (MonotonicMs() >= until)
            break;
    }
    return true;
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
    m_uServerWord = info.infoWord;
    info_text = info.infoText;
    updater_version = info.updaterVersion;
}

void DOWNLOADER::SetFileAside()
{
    // A file not received whole never gets its final name; its part stays for a later
    // request when a record says what it is.
    if (m_pOutput != nullptr && m_bKeepPart) {
        SalvageCutChunk();
        if (m_pObserver != nullptr)
            m_pObserver->OnPartOnDisk(received);
        m_pOutput->Keep();
    } else if (m_pOutput != nullptr && m_pObserver != nullptr && !m_bPartSettled) {
        m_pObserver->OnPartDiscarded();
    }
    m_bPartSettled = true;
    m_pOutput.reset();
    m_pCheck.reset();
    m_pTagHash.reset();
    m_bEnding = false;
    m_bKeepPart = false;
}

void DOWNLOADER::DiscardFile()
{
    if (m_pOutput != nullptr)
        RemoveResumeRecord(file_path.Get());
    m_bKeepPart = false;
    SetFileAside();
}

void DOWNLOADER::SalvageCutChunk()
{
    // Only a chunk the connection stopped in the middle of: one being handled is written.
    const NET_CONNECT* c = client.m_pConnect;
    if (m_bInMessage || c == nullptr || c->IncomingId() != static_cast<uint32_t>(MSG_FILE_DATA))
        return;
    int got = 0;
    const char* body = c->IncomingBodyPart(&got);
    uint32_t n = 0;
    if (body != nullptr && c->IncomingBodyOffset() > 0) {
        // A chunk taken in pieces: its count was read, what waits is file data.
        n = static_cast<uint32_t>(got) < m_uChunkLeft ? static_cast<uint32_t>(got) : m_uChunkLeft;
    } else {
        if (body == nullptr || got <= 4)
            return;
        n = LoadLe32(body);
        n = n < static_cast<uint32_t>(got - 4) ? n : static_cast<uint32_t>(got - 4);
        body += 4;
    }
    n = n < total_size - received ? n : static_cast<uint32_t>(total_size - received);
    if (n > 0 && m_pOutput->Write(body, n)) {
        received += n;
        m_uArrived += n;
    }
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
    m_bCanGoOn = false;
    DiscardFile();
    Close();
    in_progress = false;
}

void DOWNLOADER::Refuse(const char* reason, bool againWhole)
{
    RX_GUARD_BEGIN
    if (m_pOutput != nullptr || in_progress) {
        FailTransfer(reason);
        m_bCanGoOn = againWhole;
    }
    RX_GUARD_END("DOWNLOADER::Refuse")
}

void DOWNLOADER::InterruptTransfer(const char* reason, INTERRUPTION why)
{
    RX_ERROR("DOWNLOADER: transfer interrupted: %s", reason);
    Close();
    error = true;
    m_bCanGoOn = true;
    m_eInterruption = why;
    // Nothing is asked for any more: an announcement that comes now (on a reconnect
    // before the request) is refused, not spliced onto the kept part.
    in_progress = false;
}

void DOWNLOADER::ForgetRequest()
{
    in_progress = false;
    m_uServerWord = 0;
    m_bAskedPackage = false;
}

bool DOWNLOADER::GetVelgrimInfo(unsigned int timeoutMs)
{
    RX_GUARD_BEGIN
    if (!AskVelgrimInfo())
        return false;
    const uint64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        const uint64_t now = MonotonicMs();
        const unsigned int left = now < deadline ? static_cast<unsigned int>(deadline - now) : 0;
        const int answer = AwaitVelgrimInfo(left);
        if (answer != 0)
            return answer > 0;
        if (left == 0) {
            m_bAwaitingInfo = false;
            return false;
        }
    }
    RX_GUARD_END("DOWNLOADER::GetVelgrimInfo")
}

bool DOWNLOADER::AskVelgrimInfo()
{
    RX_GUARD_BEGIN
    if (!client.IsConnected())
        return false;
    NET_MESSAGE_HELPER request;
    request.Send(client.m_pConnect, MSG_GET_INFO);
    m_iInfoAnswersBefore = m_iInfoAnswers;
    m_bAwaitingInfo = true;
    return true;
    RX_GUARD_END("DOWNLOADER::AskVelgrimInfo")
}

int DOWNLOADER::AwaitVelgrimInfo(unsigned int waitMs)
{
    RX_GUARD_BEGIN
    if (!m_bAwaitingInfo)
        return -1;
    NET_CONNECT* c = client.m_pConnect;
    c->ProcessDoTransfercomplete(waitMs);
    if (m_iInfoAnswers != m_iInfoAnswersBefore) {
        m_bAwaitingInfo = false;
        return m_bInfoValid ? 1 : -1;
    }
    // Another message ended the wait: the answer may still come while the connection lives.
    if (c->m_bClosed || c->m_Socket == INVALID_SOCKET) {
        m_bAwaitingInfo = false;
        return -1;
    }
    return 0;
    RX_GUARD_END("DOWNLOADER::AwaitVelgrimInfo")
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
    m_bCanGoOn = false;
    if (!client.IsConnected()) {
        error = true;
        return false;
    }
    received = 0;
    m_uStart = 0;
    m_eInterruption = NOT_INTERRUPTED;
    // A new request starts from the part kept for the kind, if any.
    SetFileAside();
    m_iRequestedKind = kind;
    m_Held = RESUME_POINT();
    // Anything but "kind, 0, 0" goes only to a server that said it understands it.
    m_bAskedPackage = ServerAnnounced(m_uServerWord, SERVER_CAP_PACKAGES);
    m_uAskedFeatures = m_bAskedPackage ? AskedFeatures() : 0;
    NET_MESSAGE_HELPER request;
    if (m_bAskedPackage) {
        if (const char* name = FileKindName(kind)) {
            const std::string dir = target_dir.Get();
            FindResumablePart(dir.empty() ? name : dir + "/" + name, kind, &m_Held);
        }
        PACKAGE_REQUEST asked;
        asked.kind = static_cast<uint32_t>(kind);
        asked.offset = m_Held.offset;
        asked.tag = m_Held.offset > 0 ? m_Held.tag : RESUME_TAG_NONE;
        asked.installed = installed_version;
        asked.features = m_uAskedFeatures;
        WritePackageRequest(request, asked);
    } else {
        WriteFileRequest(request, static_cast<uint32_t>(kind), 0, 0);
    }
    request.Send(client.m_pConnect, MSG_GET_FILE);
    total_size = 0;
    file_name.Assign("");
    in_progress = true;
    NoteProgress();
    return true;
    RX_GUARD_END("DOWNLOADER::GetFile")
}

uint32_t DOWNLOADER::AskedFeatures() const
{
    if (m_pRelease != nullptr && m_pRelease->format < 3)
        return PACKAGE_FEATURE_REMOVALS;
    return withoutDeltas ? kFeatures & ~PACKAGE_FEATURE_DELTA : kFeatures;
}

void DOWNLOADER::Process()
{
    RX_GUARD_BEGIN
    // At the window's pace one receive a tick would take at most a socket buffer a tick,
    // far below a fast link: the step goes on while bytes wait, for a part of the tick.
    if (client.m_pConnect != nullptr)
        client.m_pConnect->ProcessFor(m_uReceiveBudgetMs);
    if (m_pObserver != nullptr && m_pOutput != nullptr)
        m_pObserver->OnPartOnDisk(received);
    if (m_pOutput != nullptr && !ChecksCaughtUp()) {
        // Once the last byte is in, nothing is received any more: the checks take the
        // receiving part of the step too.
        if (!CatchUpChecks(m_bEnding ? kCheckBudgetMs + m_uReceiveBudgetMs : kCheckBudgetMs)) {
            FailTransfer("the kept part cannot be read back");
        } else if (m_bEnding && ChecksCaughtUp()) {
            FinishFile();
        }
    }
    // A server that announces a file and then falls silent, trickles bytes, or sends
    // frames that carry no file does not keep the player waiting for ever.
    if (in_progress && !error && client.IsConnected() && MonotonicMs() - m_uLastHeardMs >= m_uStallTimeoutMs) {
        RX_ERROR("DOWNLOADER: no progress from the server for %u ms", m_uStallTimeoutMs);
        InterruptTransfer("the transfer stalled", STALLED);
    }
    RX_GUARD_END("DOWNLOADER::Process")
}

bool DOWNLOADER::IsCompleteOrError()
{
    RX_GUARD_BEGIN
    // The file has come; its checks are still hashing kept bytes.
    if (m_bEnding)
        return false;
    if (!client.IsConnected()) {
        if (in_progress && !error) {
            RX_ERROR("DOWNLOADER: transfer interrupted: the connection is gone after %llu of %llu bytes",
                     static_cast<unsigned long long>(received), static_cast<unsigned long long>(total_size));
            error = true;
            m_bCanGoOn = true;
            m_eInterruption = LOST;
            in_progress = false;
            SetFileAside();
        }
        return true;
    }
    return complete || error;
    RX_GUARD_END("DOWNLOADER::IsCompleteOrError")
}

bool DOWNLOADER::Close()
{
    RX_GUARD_BEGIN
    SetFileAside();
    // No answer can come on a connection that is gone.
    m_bAwaitingInfo = false;
    return client.Disconnect();
    RX_GUARD_END("DOWNLOADER::Close")
}

bool DOWNLOADER::IsError()
{
    RX_GUARD_BEGIN
    return error;
    RX_GUARD_END("DOWNLOADER::IsError")
}
