#include "apply/stream_stager.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "apply/open_package.h"
#include "apply/patch_applier.h"
#include "common/trace_log.h"
#include "pack/pack_format.h"
#include "platform/clock.h"
#include "platform/durable_files.h"
#include "platform/file_handle.h"
#include "platform/file_io.h"

namespace {

// How long the worker sleeps when nothing is posted: Stop and new bytes wake it at once.
constexpr auto kIdleWait = std::chrono::milliseconds(200);

} // namespace

// The worker's own state: the staging area, the part's handle, the journal.
class STREAM_STAGER::WORK {
public:
    WORK(const std::string& dir, uint32_t version) : m_Applier(dir), m_uVersion(version) {}

    // A new part, or the same package going on: the package is opened again unless it is
    // the one at hand.
    void Begin(const PART& part)
    {
        if (m_bOpen && part.start > 0 && part.tag == m_Journal.packageTag && part.total == m_Journal.packageSize) {
            m_Package.Grew();
            m_bResumed = true;
            return;
        }
        Close();
        m_bAdopt = part.start > 0;
        m_bResumed = m_bAdopt;
        m_strPath = part.path;
        m_uTotal = part.total;
        m_uTag = part.tag;
    }

    // The part took its final name: an index not yet opened is read there.
    void Renamed(const std::string& path)
    {
        if (!m_bOpen)
            m_strPath = path;
    }

    // Drops the package and everything staged from it.
    void Drop()
    {
        const bool had = m_bOpen;
        Close();
        if (had)
            m_Applier.DropStaging();
    }

    // Some of the part's bytes were kept from an earlier transfer: a check they fail may
    // be a spoiled part rather than a bad package.
    bool Resumed() const { return m_bResumed; }

    // Stages what the bytes on disk allow; false when the stager failed (problem set) or
    // gave up (nothing more for this part).
    STATE Advance(uint64_t onDisk, const std::atomic<bool>& stop, std::string* problem, bool* baseMismatch)
    {
        if (m_bGaveUp)
            return IDLE;
        if (!m_bOpen) {
            const STATE opened = OpenIndex(onDisk, problem);
            if (opened != STAGING)
                return opened;
            if (!m_bOpen)
                return STAGING; // the index is not all there yet
        }
        if (onDisk > m_uSeen) {
            m_uSeen = onDisk;
            m_Package.Grew();
        }
        const auto& entries = m_Package.Index().m_Entries;
        while (m_uNext < entries.size() && !stop) {
            const size_t i = m_uNext;
            const PACK_INDEX_ENTRY& e = entries[i];
            if (!m_Journal.items[i].staged && !m_Journal.items[i].removal) {
                if (e.dataOffset + e.dataSize > onDisk)
                    break;
                if (!m_Applier.StageArrived(m_Package, i, m_bLater ? &m_Dirs : nullptr)) {
                    if (m_Package.Damaged() || m_Applier.BaseMismatch()) {
                        *problem = m_Applier.Problem();
                        *baseMismatch = m_Applier.BaseMismatch();
                        Drop();
                        return FAILED;
                    }
                    // The disk, not the package: the update is staged whole after the
                    // download, where the same failure is reported.
                    RX_ERROR("update: staging while the package arrives stopped: %s", m_Applier.Problem().c_str());
                    GiveUp();
                    return IDLE;
                }
                m_Journal.items[i].staged = true;
                m_bDirty = true;
                ++m_uStaged;
                if (g_applyStepHook != nullptr)
                    g_applyStepHook("arrived", static_cast<uint32_t>(i));
            }
            ++m_uNext;
            if (MonotonicMs() - m_uCommittedMs >= kJournalEveryMs)
                Commit();
        }
        // Every entry staged: named now; else with the next batch (CommitIfDue).
        if (m_uNext == entries.size()) {
            Commit();
            return DONE;
        }
        return STAGING;
    }

    size_t StagedCount() const { return m_uStaged; }

    // A batch staged kJournalEveryMs ago or more is named now, however the bytes come.
    void CommitIfDue()
    {
        if (m_bDirty && MonotonicMs() - m_uCommittedMs >= kJournalEveryMs)
            Commit();
    }

    // Flushes the files staged since the last batch, then names them in the journal.
    void Commit()
    {
        if (!m_bDirty || m_bGaveUp)
            return;
        if (!m_Dirs.Flush() || !m_Applier.WriteJournal(m_Journal)) {
            RX_ERROR("update: the staged files could not be recorded; they are staged again after the download");
            GiveUp();
            return;
        }
        m_Dirs = DURABLE_DIRECTORIES();
        m_bDirty = false;
        m_uCommittedMs = MonotonicMs();
    }

private:
    void Close()
    {
        m_Package.Close();
        m_bOpen = false;
        m_bGaveUp = false;
        m_bDirty = false;
        m_Dirs = DURABLE_DIRECTORIES();
        m_uNext = 0;
        m_uSeen = 0;
        m_uStaged = 0;
    }

    // Staging stops for this part; the staging area goes (Apply stages it all).
    void GiveUp()
    {
        m_Package.Close();
        m_Applier.DropStaging();
        m_bGaveUp = true;
    }

    STATE OpenIndex(uint64_t onDisk, std::string* problem)
    {
        using namespace pack_format;
        if (onDisk < kHeaderSize && onDisk < m_uTotal)
            return STAGING;
        unsigned char header[kHeaderSize] = {};
        {
            FILE_HANDLE file(CreateFileA(m_strPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            if (m_uTotal >= kHeaderSize && (!file.Valid() || !ReadFileAt(file.Get(), 0, header, kHeaderSize)))
                return STAGING; // read again with the next bytes
        }
        // The index is checked once every byte of it is in (rxpack writes it first); one
        // that lies past the package's end is refused at once.
        const uint64_t tableEnd = GetU64(header + kTableOffsetAt) + GetU32(header + kTableSizeAt);
        const uint64_t namesEnd = GetU64(header + kNamesOffsetAt) + GetU32(header + kNamesSizeAt);
        const uint64_t indexEnd = std::max<uint64_t>(kHeaderSize, std::max(tableEnd, namesEnd));
        if (indexEnd <= m_uTotal && indexEnd > onDisk)
            return STAGING;
        std::string why;
        if (!m_Package.OpenArriving(m_strPath, m_uTotal, &why)) {
            *problem = "the package is not a sound package: " + why;
            m_Package.Close();
            return FAILED;
        }
        m_Package.SetInstalledDir(m_Applier.Dir());
        m_bLater = FlushesWholeFileSystem();
        APPLY_JOURNAL leftover;
        const JOURNAL_READ read = m_Applier.ReadJournal(&leftover);
        // An earlier update's journal is PATCH_APPLIER::Apply's to settle, and one that
        // cannot be read is left alone: nothing is staged early then.
        if (read == JOURNAL_UNREADABLE || (read == JOURNAL_FOUND && leftover.state != APPLY_RECEIVING)) {
            m_Package.Close();
            m_bGaveUp = true;
            return IDLE;
        }
        m_Journal = APPLY_JOURNAL();
        m_Journal.version = m_uVersion;
        m_Journal.state = APPLY_RECEIVING;
        m_Journal.hasPackage = true;
        m_Journal.packageSize = m_Package.Size();
        m_Journal.packageIndexCrc = m_Package.IndexCrc();
        m_Journal.packageTag = m_uTag;
        const auto& entries = m_Package.Index().m_Entries;
        for (size_t i = 0; i < entries.size(); ++i)
            m_Journal.items.push_back(APPLY_ITEM{entries[i].name, m_Package.IsRemoval(i)});
        const bool same = m_bAdopt && read == JOURNAL_FOUND && leftover.version == m_uVersion &&
                          leftover.packageTag == m_uTag && leftover.packageSize == m_Journal.packageSize &&
                          leftover.packageIndexCrc == m_Journal.packageIndexCrc && leftover.items == m_Journal.items;
        if (same) {
            for (size_t i = 0; i < entries.size(); ++i) {
                m_Journal.items[i].staged = leftover.items[i].staged && !leftover.items[i].removal;
                m_uStaged += m_Journal.items[i].staged ? 1 : 0;
            }
            g_trace->Log("update: %u entries staged before are kept; the package goes on arriving\n",
                         static_cast<unsigned>(m_uStaged));
        } else if (read == JOURNAL_FOUND) {
            m_Applier.DropStaging();
        }
        m_bOpen = true;
        m_bDirty = true;
        if (!m_Applier.MakeStagingArea()) {
            RX_ERROR("update: %s; the package is staged after the download", m_Applier.Problem().c_str());
            GiveUp();
            return IDLE;
        }
        Commit();
        return m_bGaveUp ? IDLE : STAGING;
    }

    PATCH_APPLIER m_Applier;
    const uint32_t m_uVersion;
    OPEN_PACKAGE m_Package;
    bool m_bOpen = false;
    bool m_bAdopt = false;
    bool m_bResumed = false;
    bool m_bGaveUp = false;
    bool m_bLater = false;
    bool m_bDirty = false;
    std::string m_strPath;
    uint64_t m_uTotal = 0;
    uint32_t m_uTag = 0;
    APPLY_JOURNAL m_Journal;
    DURABLE_DIRECTORIES m_Dirs;
    size_t m_uNext = 0;
    uint64_t m_uSeen = 0;
    size_t m_uStaged = 0;
    uint64_t m_uCommittedMs = 0;
};

STREAM_STAGER::STREAM_STAGER(const std::string& dir) : m_strDir(dir) {}

STREAM_STAGER::~STREAM_STAGER()
{
    Stop();
}

void STREAM_STAGER::Prepare(int kind, uint32_t version)
{
    Stop();
    std::lock_guard<std::mutex> lock(m_Lock);
    m_iKind = kind;
    m_uVersion = version;
    m_Part = PART();
    m_bStop = false;
    m_bHalt = false;
    m_uWorkerGeneration = 0;
    m_eState = IDLE;
    m_uStaged = 0;
    m_strProblem.clear();
    m_bBaseMismatch = false;
    m_bSpliced = false;
    m_Worker = std::thread(&STREAM_STAGER::Run, this);
}

void STREAM_STAGER::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bStop = true;
        m_bHalt = true;
    }
    m_Wake.notify_all();
    if (m_Worker.joinable())
        m_Worker.join();
}

void STREAM_STAGER::OnPartBegin(int kind, const std::string& partPath, uint64_t total, uint64_t start, uint32_t tag)
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (kind != m_iKind || !m_Worker.joinable())
            return;
        // From the beginning: the bytes may be another package's, nothing staged is kept.
        if (start == 0)
            m_Part.drop = true;
        ++m_Part.generation;
        m_Part.path = partPath;
        m_Part.total = total;
        m_Part.start = start;
        m_Part.tag = tag;
        m_Part.onDisk = start;
        m_Part.live = true;
        m_Part.complete = false;
    }
    m_Wake.notify_all();
}

void STREAM_STAGER::OnPartOnDisk(uint64_t n)
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_Part.live || n <= m_Part.onDisk)
            return;
        m_Part.onDisk = std::min(n, m_Part.total);
    }
    m_Wake.notify_all();
}

void STREAM_STAGER::OnPartComplete(const std::string& path)
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_Part.live)
            return;
        m_Part.path = path;
        m_Part.complete = true;
        m_Part.onDisk = m_Part.total;
    }
    m_Wake.notify_all();
}

void STREAM_STAGER::OnPartDiscarded()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_Part.live)
            return;
        m_Part.live = false;
        m_Part.drop = true;
        ++m_Part.generation;
    }
    m_Wake.notify_all();
}

bool STREAM_STAGER::Busy() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Part.live && m_Part.complete && m_Worker.joinable() &&
           (m_uWorkerGeneration != m_Part.generation || m_eState == STAGING);
}

bool STREAM_STAGER::Failed() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_eState == FAILED;
}

std::string STREAM_STAGER::Problem() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_strProblem;
}

bool STREAM_STAGER::Spliced() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_eState == FAILED && m_bSpliced;
}

void STREAM_STAGER::ClearFailure()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_eState = IDLE;
    m_bSpliced = false;
    m_strProblem.clear();
}

bool STREAM_STAGER::BaseMismatch() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bBaseMismatch;
}

size_t STREAM_STAGER::Staged() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_uStaged;
}

void STREAM_STAGER::Publish(uint64_t generation, STATE state, size_t staged)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_uWorkerGeneration = generation;
    // A failure stands until the next Prepare.
    if (m_eState != FAILED)
        m_eState = state;
    m_uStaged = staged;
}

void STREAM_STAGER::Run()
{
    uint32_t version = 0;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        version = m_uVersion;
    }
    WORK work(m_strDir, version);
    uint64_t generation = 0;
    uint64_t seen = 0;
    bool seenComplete = false;
    STATE state = IDLE;
    for (;;) {
        PART part;
        {
            std::unique_lock<std::mutex> lock(m_Lock);
            m_Wake.wait_for(lock, kIdleWait, [&] {
                return m_bStop || m_Part.drop || m_Part.generation != generation ||
                       (state == STAGING && (m_Part.onDisk > seen || m_Part.complete != seenComplete));
            });
            if (m_bStop)
                break;
            part = m_Part;
            m_Part.drop = false;
        }
        if (part.drop)
            work.Drop();
        if (part.generation != generation) {
            generation = part.generation;
            state = part.live ? STAGING : IDLE;
            if (part.live)
                work.Begin(part);
            Publish(generation, state, work.StagedCount());
        }
        work.CommitIfDue();
        if (state != STAGING)
            continue;
        seen = part.onDisk;
        seenComplete = part.complete;
        // Complete: the part has its final name, where an index not read yet is.
        if (part.complete)
            work.Renamed(part.path);
        std::string problem;
        bool baseMismatch = false;
        state = work.Advance(part.onDisk, m_bHalt, &problem, &baseMismatch);
        if (state == FAILED) {
            const bool spliced = work.Resumed() && !baseMismatch;
            RX_ERROR("update: the package arriving %s: %s",
                     spliced ? "failed a check in a part gone on with; it is fetched whole" : "is refused",
                     problem.c_str());
            std::lock_guard<std::mutex> lock(m_Lock);
            m_strProblem = problem;
            m_bBaseMismatch = baseMismatch;
            m_bSpliced = spliced;
        }
        Publish(generation, state, work.StagedCount());
    }
    work.Commit();
}
