#include "launcher/mirror_fetch.h"

#include <memory>

#include "downloader/resume_record.h"
#include "platform/files.h"
#include "platform/replacing_file.h"
#include "protocol/update_protocol.h"
#include "release/expected_file_check.h"
#include "release/hex_text.h"

namespace {

// Kept bytes are hashed from the disk this much at a time, Cancel looked at between.
constexpr uint32_t kCheckBlock = 1u << 20;
// Transfers from one mirror while each brings bytes before it breaks.
constexpr int kTransfersPerMirror = 3;

MANIFEST_PACKAGE Expected(const MIRROR_JOB& job)
{
    MANIFEST_PACKAGE expected;
    expected.base = job.base;
    expected.size = job.size;
    std::copy(job.sha256, job.sha256 + SHA256_DIGEST_SIZE, expected.sha256);
    return expected;
}

} // namespace

std::string MirrorObjectUrl(const std::string& base, const uint8_t sha256[SHA256_DIGEST_SIZE])
{
    const bool slash = !base.empty() && base.back() == '/';
    return base + (slash ? "" : "/") + "objects/" + HexLower(sha256, SHA256_DIGEST_SIZE);
}

const MANIFEST_PACKAGE* ChooseManifestPackage(const RELEASE_MANIFEST& manifest, uint32_t installed,
                                              uint32_t features)
{
    // The variants a launcher of these features can unpack, best first.
    std::vector<uint32_t> variants;
    const bool zstd = (features & PACKAGE_FEATURE_ZSTD) != 0;
    if (zstd && (features & PACKAGE_FEATURE_DELTA) != 0)
        variants.push_back(PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA);
    if (zstd)
        variants.push_back(PACKAGE_FEATURE_ZSTD);
    variants.push_back(0);
    // A package from the installed version holds removals: only for a launcher that knows them.
    if (installed != 0 && (features & PACKAGE_FEATURE_REMOVALS) != 0)
        for (uint32_t variant : variants)
            if (const MANIFEST_PACKAGE* p = manifest.PackageOf(installed, variant))
                return p;
    // A full package carries no deltas: the installed files are not its base.
    for (uint32_t variant : variants)
        if ((variant & PACKAGE_FEATURE_DELTA) == 0)
            if (const MANIFEST_PACKAGE* p = manifest.PackageOf(PACKAGE_BASE_FULL, variant))
                return p;
    return manifest.PackageOf(PACKAGE_BASE_CUMULATIVE, 0);
}

MIRROR_FETCH::~MIRROR_FETCH()
{
    Cancel();
}

void MIRROR_FETCH::Start(const MIRROR_JOB& job)
{
    Cancel();
    m_Job = job;
    m_bCancel = false;
    m_uReceived = 0;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Failures.clear();
    }
    m_eState = RUNNING;
    m_Thread = std::thread(&MIRROR_FETCH::Run, this);
}

void MIRROR_FETCH::Cancel()
{
    m_bCancel = true;
    Join();
}

void MIRROR_FETCH::Reset()
{
    Join();
    m_eState = IDLE;
}

void MIRROR_FETCH::Join()
{
    if (m_Thread.joinable())
        m_Thread.join();
}

std::vector<std::string> MIRROR_FETCH::Failures() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Failures;
}

void MIRROR_FETCH::Failed(const std::string& url, const std::string& reason)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Failures.push_back(url + ": " + reason);
}

void MIRROR_FETCH::Run()
{
    STATE end = FAILED;
    bool diskFailed = false;
    for (size_t i = 0; i < m_Job.mirrors.size() && end == FAILED && !diskFailed; ++i) {
        const std::string url = MirrorObjectUrl(m_Job.mirrors[i], m_Job.sha256);
        bool fromZero = false;
        int broken = 0;
        for (;;) {
            bool spliced = false;
            uint64_t gained = 0;
            std::string reason;
            const ATTEMPT attempt = FromMirror(url, fromZero, &spliced, &gained, &reason);
            if (attempt == GOT_IT) {
                end = ARRIVED;
                break;
            }
            if (attempt == STOPPED) {
                end = CANCELLED;
                break;
            }
            if (attempt == PASS_OVER && spliced && !fromZero) {
                // Gone on with from a part another source left: the splice may be what is
                // wrong, so this mirror gets one whole try.
                Failed(url, reason + "; the whole file once more");
                fromZero = true;
                continue;
            }
            if (attempt == BROKE && gained > 0 && ++broken < kTransfersPerMirror) {
                // A cut connection that brought bytes: the same mirror goes on from them.
                Failed(url, reason + "; going on from byte " + std::to_string(m_uReceived.load()));
                continue;
            }
            Failed(url, reason);
            // This disk fails every mirror alike.
            diskFailed = attempt == LOCAL_FAILURE;
            break;
        }
    }
    if (m_bCancel)
        end = CANCELLED;
    m_eState = end;
}

namespace {

// The bytes one GET brings, into the part and through the check.
class PART_SINK final : public WEB_FETCH_SINK {
public:
    PART_SINK(const MIRROR_JOB& job, std::atomic<bool>& cancel, std::atomic<uint64_t>& received)
        : m_Job(job), m_bCancel(cancel), m_uReceived(received)
    {
    }

    // A part of `length` bytes held (0: a new one), its kept bytes hashed from the disk.
    bool Open(uint64_t length)
    {
        m_pCheck.reset(new EXPECTED_FILE_CHECK(Expected(m_Job)));
        m_pOut.reset(new REPLACING_FILE(m_Job.path));
        if (length == 0 || !m_pOut->Reopen(length))
            return Fresh();
        std::unique_ptr<char[]> block(new char[kCheckBlock]);
        for (uint64_t at = 0; at < length;) {
            if (m_bCancel)
                return false;
            const uint32_t n = static_cast<uint32_t>(length - at < kCheckBlock ? length - at : kCheckBlock);
            if (!m_pOut->ReadAt(at, block.get(), n) || !m_pCheck->Feed(block.get(), n))
                return Fresh();
            at += n;
        }
        m_uReceived = length;
        return true;
    }

    // A new part, and its record so that a later run (or the update server) goes on from it.
    bool Fresh()
    {
        m_pCheck.reset(new EXPECTED_FILE_CHECK(Expected(m_Job)));
        m_pOut.reset(new REPLACING_FILE(m_Job.path));
        RemoveResumeRecord(m_Job.path);
        m_uReceived = 0;
        if (!m_pOut->Create()) {
            m_strLocal = "cannot create " + m_pOut->TempPath() + " (system error " + std::to_string(m_pOut->Error()) + ")";
            return false;
        }
        RESUME_RECORD record;
        record.kind = static_cast<uint32_t>(m_Job.kind);
        record.size = m_Job.size;
        record.tag = ResumeTagOfDigest(m_Job.sha256);
        record.base = m_Job.base;
        m_bRecorded = WriteResumeRecord(m_Job.path, record);
        return true;
    }

    bool OnStart(uint64_t start, uint64_t total) override
    {
        if (total != 0 && total != m_Job.size) {
            m_strMirror = "it serves " + std::to_string(total) + " bytes, the manifest names " +
                          std::to_string(m_Job.size);
            return false;
        }
        if (start == m_pOut->Length())
            return true;
        // The mirror starts over: so does the part.
        return start == 0 && Fresh();
    }

    bool OnData(const void* data, size_t size) override
    {
        if (!m_pCheck->Feed(data, size)) {
            m_strMirror = "it serves more bytes than the manifest names";
            return false;
        }
        if (!m_pOut->Write(data, size)) {
            m_strLocal = "cannot write " + m_pOut->TempPath() + " (system error " + std::to_string(m_pOut->Error()) + ")";
            return false;
        }
        m_uReceived += size;
        m_uGained += size;
        return true;
    }

    bool KeepGoing() override { return !m_bCancel; }

    // The part stays for whoever goes on (when it has a record to say what it is).
    void Keep()
    {
        if (m_bRecorded || m_pOut->Length() > 0)
            m_pOut->Keep();
        m_pOut.reset();
    }

    // The part is of no use: it goes, with its record.
    void Discard()
    {
        m_pOut.reset();
        RemoveResumeRecord(m_Job.path);
        m_uReceived = 0;
    }

    const MIRROR_JOB& m_Job;
    std::atomic<bool>& m_bCancel;
    std::atomic<uint64_t>& m_uReceived;
    std::unique_ptr<REPLACING_FILE> m_pOut;
    std::unique_ptr<EXPECTED_FILE_CHECK> m_pCheck;
    bool m_bRecorded = false;
    uint64_t m_uGained = 0;  // bytes this transfer brought
    std::string m_strMirror; // the mirror's fault
    std::string m_strLocal;  // this machine's (disk)
};

} // namespace

MIRROR_FETCH::ATTEMPT MIRROR_FETCH::FromMirror(const std::string& url, bool fromZero, bool* spliced,
                                               uint64_t* gained, std::string* reason)
{
    *spliced = false;
    *gained = 0;
    RESUME_POINT held;
    if (fromZero || !FindResumablePart(m_Job.path, m_Job.kind, &held) ||
        held.tag != ResumeTagOfDigest(m_Job.sha256) || held.size != m_Job.size)
        held = RESUME_POINT();
    PART_SINK sink(m_Job, m_bCancel, m_uReceived);
    if (!sink.Open(held.offset)) {
        if (!sink.m_strLocal.empty()) {
            *reason = sink.m_strLocal;
            return LOCAL_FAILURE;
        }
        sink.Keep();
        return STOPPED;
    }
    const uint64_t start = sink.m_pOut->Length();
    WEB_FETCH_OPTIONS options = m_Job.options;
    options.resumeFrom = start;
    const WEB_FETCH_RESULT result = WebFetch(url, options, &sink, reason);
    if (!sink.m_strLocal.empty()) {
        *reason = sink.m_strLocal;
        sink.Discard();
        return LOCAL_FAILURE;
    }
    if (!sink.m_strMirror.empty()) {
        *reason = sink.m_strMirror;
        sink.Discard();
        return PASS_OVER;
    }
    if (result == WEB_FETCH_RESULT::Cancelled) {
        sink.Keep();
        return STOPPED;
    }
    if (result == WEB_FETCH_RESULT::Failed) {
        // What came is kept to go on with; the whole file is checked in the end.
        *gained = sink.m_uGained;
        sink.Keep();
        return BROKE;
    }
    std::string problem;
    if (!sink.m_pCheck->Finish(&problem)) {
        // Whatever the mirror sent, it is not the file the studio signed: it never gets
        // the name under which it would be unpacked or started.
        *reason = "not the manifest's file (" + problem + ")";
        *spliced = start > 0;
        sink.Discard();
        return PASS_OVER;
    }
    if (!sink.m_pOut->Commit()) {
        *reason = "cannot move " + sink.m_pOut->TempPath() + " over " + m_Job.path + " (system error " +
                  std::to_string(sink.m_pOut->Error()) + ")";
        sink.Discard();
        return LOCAL_FAILURE;
    }
    SetFileAttributesA(m_Job.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveResumeRecord(m_Job.path);
    return GOT_IT;
}
