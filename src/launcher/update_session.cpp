#include "launcher/update_session.h"

#include "apply/patch_applier.h"
#include "apply/stream_stager.h"
#include "common/trace_log.h"
#include "common/whole_percent.h"
#include "launcher/program_globals.h"
#include "launcher/transfer_retry.h"
#include "protocol/update_protocol.h"

int g_updateMode = UPDATE_MODE_PATCH;
bool g_cancelled = false;
bool g_updateSucceeded = false;
std::string g_updateProblem;
bool g_updateBaseMismatch = false;

const char* g_mirrorCaFile = nullptr;

namespace {

TRANSFER_RETRY g_reconnects;
MIRROR_FETCH g_mirror;
// The mirrors' worker runs; the file came from a mirror; the servers are asked after them.
bool g_mirrorActive = false;
bool g_mirrorArrived = false;
bool g_serverFallback = false;

// The mirrors have had their turn: true when the transfer has ended (the file came, or
// no server is left to ask), false when the update servers go on with it.
bool MirrorsEnded(MIRROR_FETCH::STATE state)
{
    g_mirrorActive = false;
    for (const std::string& failure : g_mirror.Failures())
        RX_ERROR("launcher: mirror %s", failure.c_str());
    g_mirror.Reset();
    if (state == MIRROR_FETCH::ARRIVED) {
        g_trace->Log("launcher: the file came from a mirror\n");
        g_mirrorArrived = true;
        return true;
    }
    if (!g_serverFallback) {
        RX_ERROR("launcher: no mirror served the file and no update server answered");
        g_downloader.error = true;
        return true;
    }
    g_trace->Log("launcher: no mirror served the file; asking the update server\n");
    if (g_reconnects.Redial(&g_downloader, "No mirror served the file"))
        return false;
    g_downloader.error = true;
    return true;
}

// Stages the patch's entries while it downloads.
STREAM_STAGER g_stager("");

// A package the stager refused stops the download: it is never swapped in.
bool StopRefusedPackage()
{
    if (!g_stager.Failed() || !g_updateProblem.empty())
        return false;
    if (g_stager.Spliced()) {
        // Bytes kept from an earlier transfer: the package is fetched again from its start.
        g_downloader.Refuse("a part gone on with failed its check while it was staged", true);
        g_stager.ClearFailure();
        return false;
    }
    g_updateProblem = g_stager.Problem();
    g_updateBaseMismatch = g_stager.BaseMismatch();
    g_reconnects.Stop();
    g_downloader.Refuse("the package failed its check while it was staged");
    g_stager.Stop();
    return true;
}

} // namespace

void UpdatePrepareReconnects(const std::vector<SERVER_ENDPOINT>& servers, size_t current, int kind,
                             uint32_t gameVersion, uint32_t updaterVersion)
{
    g_reconnects.Prepare(servers, current, kind, gameVersion, updaterVersion);
    g_stager.Prepare(FILE_KIND_PATCH, gameVersion);
    g_downloader.Observe(&g_stager);
    g_mirrorArrived = false;
    g_mirrorActive = false;
}

void UpdatePrepareMirrors(const MIRROR_JOB& job, bool serverFallback)
{
    MIRROR_JOB withCa = job;
    if (g_mirrorCaFile != nullptr)
        withCa.options.caFile = g_mirrorCaFile;
    g_serverFallback = serverFallback;
    g_downloader.error = false;
    g_downloader.complete = false;
    g_mirror.Start(withCa);
    g_mirrorActive = true;
}

bool UpdateTickPump()
{
    if (StopRefusedPackage())
        return true;
    if (g_mirrorActive) {
        const MIRROR_FETCH::STATE state = g_mirror.Poll();
        if (state == MIRROR_FETCH::RUNNING)
            return false;
        return MirrorsEnded(state);
    }
    if (g_reconnects.Active())
        return g_reconnects.Step(0) == TRANSFER_RETRY::GIVEN_UP;
    g_downloader.Process();
    if (StopRefusedPackage())
        return true;
    // The last byte is in: the window waits while the stager finishes the entries.
    if (g_downloader.complete && !g_downloader.IsError() && g_stager.Busy())
        return false;
    // However the reconnects went, the window is not held without progress past its bound.
    if (!g_reconnects.Observe(g_downloader)) {
        g_reconnects.GiveUpStalled(&g_downloader);
        return true;
    }
    if (!g_downloader.IsCompleteOrError())
        return false;
    return !g_reconnects.Begin(&g_downloader);
}

int UpdateReconnects()
{
    return g_reconnects.Reconnects();
}

const char* UpdateReconnectNotice()
{
    return g_reconnects.Notice().c_str();
}

int UpdateProgressPercent(uint64_t received, uint64_t total)
{
    if (total == 0)
        return -1;
    return static_cast<int>(WholePercent(received, total));
}

int UpdateTransferPercent()
{
    if (g_mirrorActive)
        return UpdateProgressPercent(g_mirror.Received(), g_mirror.Total());
    return UpdateProgressPercent(g_downloader.GetReceivedSize(), g_downloader.GetTotalSize());
}

bool UpdateFinish(UNPACK_CALLBACK progress)
{
    const bool arrived = g_downloader.complete || g_mirrorArrived;
    g_downloader.Disconnect();
    // The staging area is Apply's from here.
    g_stager.Stop();
    g_downloader.Observe(nullptr);
    // A failed transfer is never unpacked: whatever file of that name lies there is stale.
    if (g_downloader.IsError() || !arrived)
        return false;
    // The patch is checked whole, staged and swapped in; a failure leaves the game as it was.
    PATCH_APPLIER applier("");
    if (g_updateMode == UPDATE_MODE_PATCH && !applier.Apply(PATCH_FILE_NAME, g_downloader.game_version, progress)) {
        g_updateProblem = applier.Problem();
        g_updateBaseMismatch = applier.BaseMismatch();
        return false;
    }
    g_updateSucceeded = true;
    return true;
}

void UpdateCancel()
{
    g_mirror.Cancel();
    g_mirrorActive = false;
    g_reconnects.Stop();
    g_downloader.Disconnect();
    g_downloader.Close();
    g_stager.Stop();
    g_cancelled = true;
}

void UpdateAbandon(const char* what)
{
    RX_ERROR("RunUpdateDialog: %s; the update is abandoned", what);
    try {
        g_mirror.Cancel();
        g_mirrorActive = false;
        g_reconnects.Stop();
        g_downloader.Close();
        g_stager.Stop();
    } catch (...) {
        // Reported by the common handler; the notice shows all the same.
    }
    g_downloader.error = true;
}
