#include "launcher/launcher_main.h"

#include <algorithm>
#include <ctime>
#include <string>

#include "common/ascii_case.h"
#include "common/trace_log.h"
#include "apply/patch_applier.h"
#include "downloader/resume_record.h"
#include "launcher/directory_lock.h"
#include "launcher/game_version_offer.h"
#include "launcher/hand_over_mark.h"
#include "launcher/mirror_fetch.h"
#include "launcher/program_globals.h"
#include "launcher/release_manifest_fetch.h"
#include "launcher/run_outcome.h"
#include "launcher/server_dial.h"
#include "launcher/server_list.h"
#include "launcher/update_session.h"
#include "launcher/updater_version.h"
#include "launcher/version_file.h"
#include "platform/clock.h"
#include "platform/durable_files.h"
#include "platform/error_text.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/links.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "protocol/own_names.h"
#include "protocol/update_protocol.h"
#include "release/release_key.h"
#include "velgrim_config.h"

#ifdef _WIN32
#include <commctrl.h>
#endif

namespace {

const char* const kUpdater = UPDATER_EXE_NAME;
const char kGame[] = "Velgrim.exe";

// The copy over a running or locked Updater.exe is retried this often, this far apart.
const unsigned int kCopyRetryMs = 100;
const unsigned int kCopyGiveUpMs = 10000;
// The new updater is copied here first, then renamed over Updater.exe.
const char kUpdaterCopy[] = "Updater.exe.new";

WSADATA g_wsaData;
DIRECTORY_LOCK g_directoryLock;

int StartSockets()
{
    return WSAStartup(0x0101, &g_wsaData);
}

void StopSockets()
{
    WSACleanup();
}

// Starts program in place of this one, after the run's closing line; the directory is left
// to it. Should the start fail, the player still gets the game. Returns the run's exit
// status when it returns at all: 0, or 1 when the game could not be started.
int StartInstead(const char* program)
{
    g_directoryLock.Release();
    ShowRunOutcome(g_runOutcome.Starting(program == kGame ? "the game" : program).c_str());
    if (g_launcherOps.startByReplacement(program) == 0)
        return 0;
    if (program != kGame) {
        RX_ERROR("%s cannot be started; starting the game", program);
        g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string(program) + " cannot be started: " + LastErrorText());
        // The game does not inherit the hand-over's mark.
        TakeHandOverMark();
        ShowRunOutcome(g_runOutcome.Starting("the game").c_str());
        if (g_launcherOps.startByReplacement(kGame) == 0)
            return 0;
    }
    const std::string why = LastErrorText();
    RX_ERROR("%s cannot be started: %s", kGame, why.c_str());
    ShowRunOutcome(g_runOutcome.NotStarted(kGame, why).c_str());
    return 1;
}

// Copies the new updater beside Updater.exe, on the disk, and renames it over, so that
// Updater.exe is always a whole program, the old one or the new one, whatever stops the
// copy (a full disk, a crash, a power cut).
bool PutNewUpdaterInPlace()
{
    // Our temporary name: whatever is there goes (a link, a hard link to a file elsewhere),
    // and the copy is a new file, so a link planted meanwhile fails it instead of being
    // written through. A link at the new updater's own name is never taken for it.
    if (IsLink(UPDATER_FILE_NAME))
        return false;
    if (!RemoveLink(kUpdaterCopy))
        DeleteFileA(kUpdaterCopy);
    if (!CopyFileA(UPDATER_FILE_NAME, kUpdaterCopy, TRUE))
        return false;
    FILE_HANDLE copy(OpenOwnFile(kUpdaterCopy, GENERIC_WRITE, 0, OPEN_EXISTING));
    return copy.Valid() && FlushFile(copy.Get(), kUpdaterCopy) && copy.Close() &&
           RenameDurably(kUpdaterCopy, kUpdater);
}

// "new": the freshly downloaded updater replaces the old one and starts it.
int ReplaceUpdater()
{
    unsigned int waited = 0;
    for (;;) {
        if (PutNewUpdaterInPlace()) {
            g_launcherOps.stopSockets();
            MarkHandOver();
            g_runOutcome.Set(RUN_OUTCOME::NOTHING, "the new updater is in place");
            return StartInstead(kUpdater);
        }
        g_launcherOps.sleepMs(kCopyRetryMs);
        waited += kCopyRetryMs;
        if (waited >= kCopyGiveUpMs)
            break;
    }
    g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string("the new updater could not be put in place as ") + kUpdater +
                                              ": " + LastErrorText());
    DeleteFileA(kUpdaterCopy);
    g_launcherOps.stopSockets();
    return StartInstead(kGame);
}

// A start after a crash finishes the update the crash interrupted, without a download.
// False when no update may be made in this run (its journal cannot be read now).
bool FinishInterruptedUpdate()
{
    PATCH_APPLIER applier("");
    uint32_t version = 0;
    const PATCH_APPLIER::RECOVERY recovery = applier.Recover(PATCH_FILE_NAME, &version, nullptr);
    if (recovery == PATCH_APPLIER::RECOVERY_SKIP)
        return false;
    if (recovery != PATCH_APPLIER::RECOVERY_COMPLETED)
        return true;
    g_localVersion = version;
    if (WriteLocalVersion())
        applier.Finish(PATCH_FILE_NAME);
    return true;
}

// No update this time: the release the servers offer is not one the studio signed.
void RefuseRelease(const std::string& reason)
{
    RX_ERROR("launcher: the release manifest is refused: %s; the game starts without an update", reason.c_str());
    g_runOutcome.Set(RUN_OUTCOME::REFUSED, reason);
    ShowReleaseRefused(reason.c_str());
}

// The signed manifest from the web host of the server list, when it can be trusted.
bool TakeReleaseManifest(RELEASE_MANIFEST* manifest)
{
    std::string reason;
    if (FetchNewestReleaseManifest(VELGRIM_WEB_HOST, VELGRIM_WEB_PORT, ReleaseManifest3Path(), ReleaseManifest2Path(),
                                   ReleaseManifestPath(),
                                   ReleasePublicKey(), static_cast<int64_t>(std::time(nullptr)), manifest, &reason))
        return true;
    RefuseRelease(reason);
    return false;
}

// Tries the servers in their order of choice until one answers with its versions (with
// the release the manifest names, when there is one: a mirror that is behind or lying is
// not followed): at most kServersTried of them, within kServerPhaseMs in all. Returns the
// index of the server the downloader is then connected to, or -1 (*refused: a server
// answered with another release than the manifest's).
int ReachUpdateServer(const RELEASE_MANIFEST* manifest, bool* refused)
{
    const uint64_t deadline = MonotonicMs() + kServerPhaseMs;
    std::string refusal;
    for (size_t i = 0; i < g_serverCandidates.size() && i < kServersTried && MonotonicMs() < deadline; ++i) {
        const SERVER_ENDPOINT& server = g_serverCandidates[i];
        SERVER_DIAL dial;
        dial.Start(&g_downloader, server, deadline);
        SERVER_DIAL::RESULT result;
        while ((result = dial.Step(kServerPhaseStepMs)) == SERVER_DIAL::DIALING) {
        }
        const std::string named = server.address + ":" + std::to_string(server.port);
        if (result == SERVER_DIAL::FAILED) {
            RX_ERROR("launcher: update server %s:%d %s", server.address.c_str(), server.port, dial.Failure());
            g_runOutcome.Tried(named, dial.Failure());
            continue;
        }
        std::string reason;
        if (manifest == nullptr ||
            ServerMatchesManifest(*manifest, g_downloader.game_version, g_downloader.updater_version, &reason))
            return static_cast<int>(i);
        RX_ERROR("launcher: update server %s:%d: %s", server.address.c_str(), server.port, reason.c_str());
        g_runOutcome.Tried(named, reason);
        refusal = reason;
        g_downloader.Close();
    }
    *refused = !refusal.empty();
    if (*refused)
        RefuseRelease(refusal);
    else
        g_runOutcome.Set(RUN_OUTCOME::NO_SERVER);
    return -1;
}

// The file of kind on the signed manifest's mirrors: false when it lists none or names
// no such file (the package chosen as the update server would choose it).
bool MirrorJob(const RELEASE_MANIFEST& manifest, int kind, MIRROR_JOB* job)
{
    if (manifest.mirrors.empty())
        return false;
    if (kind == FILE_KIND_UPDATER) {
        const MANIFEST_FILE* file = manifest.FileOfKind(kind);
        if (file == nullptr)
            return false;
        job->base = PACKAGE_BASE_FULL;
        job->size = file->size;
        std::copy(file->sha256, file->sha256 + SHA256_DIGEST_SIZE, job->sha256);
    } else {
        const MANIFEST_PACKAGE* package = ChooseManifestPackage(manifest, g_localVersion, g_downloader.AskedFeatures());
        if (package == nullptr)
            return false;
        job->base = package->base;
        job->size = package->size;
        std::copy(package->sha256, package->sha256 + SHA256_DIGEST_SIZE, job->sha256);
    }
    job->mirrors = manifest.mirrors;
    job->kind = kind;
    job->path = FileKindName(kind);
    return true;
}

// Downloads the file of kind under the update window: from the signed manifest's mirrors
// first when it lists any, then (or else) from the server that answered (-1: none did),
// with reconnects to the run's servers.
void DownloadInWindow(int kind, int server, const RELEASE_MANIFEST* manifest)
{
    UpdatePrepareReconnects(server >= 0 ? g_serverCandidates : std::vector<SERVER_ENDPOINT>(),
                            server >= 0 ? static_cast<size_t>(server) : 0, kind, g_downloader.game_version,
                            g_downloader.updater_version);
    MIRROR_JOB job;
    if (manifest != nullptr && MirrorJob(*manifest, kind, &job)) {
        // The server is not held while the mirrors carry the file; it is dialled again
        // should they fail.
        g_downloader.Close();
        UpdatePrepareMirrors(job, server >= 0);
    } else {
        g_downloader.GetFile(kind, "");
    }
    RunUpdateDialog();
}

// An installed file was not the base of a delta in the package (a modified file, a mod):
// nothing was patched; the version's package without deltas is fetched and applied.
void AskAgainWithoutDeltas(const RELEASE_MANIFEST* manifest)
{
    g_trace->Log("launcher: %s; asking for the package without deltas\n", g_updateProblem.c_str());
    g_updateProblem.clear();
    g_updateBaseMismatch = false;
    g_downloader.Close();
    g_downloader.withoutDeltas = true;
    const uint32_t version = g_downloader.game_version;
    const uint32_t updaterVersion = g_downloader.updater_version;
    bool refused = false;
    const int server = ReachUpdateServer(manifest, &refused);
    const bool mirrors = manifest != nullptr && !manifest->mirrors.empty() && !refused;
    if (server < 0 && !mirrors)
        return;
    if (server < 0) {
        // The mirrors carry the signed release alone, as they did the first time.
        g_downloader.game_version = version;
        g_downloader.updater_version = updaterVersion;
    } else if (g_downloader.game_version != version) {
        // The release moved on meanwhile: that is for the next start.
        g_updateProblem = "the release changed while the package without deltas was asked for";
        return;
    }
    DownloadInWindow(FILE_KIND_PATCH, server, manifest);
}

// What became of a download under the window, for the closing line.
void NoteDownloadOutcome(const char* file)
{
    if (g_cancelled) {
        g_runOutcome.Set(RUN_OUTCOME::CANCELLED);
    } else if (!g_updateProblem.empty()) {
        g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string("applying ") + file + ": " + g_updateProblem);
    } else if (g_downloader.IsError() || !g_updateSucceeded) {
        const std::string notice = UpdateReconnectNotice();
        g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string("downloading ") + file +
                                                  (notice.empty() ? ": the transfer failed" : ": " + notice));
    }
}

} // namespace

LAUNCHER_OPS g_launcherOps = {StartSockets, StopSockets, StartByReplacement, ShellStartDetached, SleepMs};

int LauncherMain(HINSTANCE instance, const char* commandLine)
{
    g_runOutcome.Reset();
    g_updateProblem.clear();
    char directory[1024];
    GetModuleFileNameA(nullptr, directory, sizeof(directory));
    PathRemoveFileSpecA(directory);
    SetCurrentDirectoryA(directory);

    if (g_launcherOps.startSockets() != 0) {
        RX_ERROR("WSAStartup() error");
        ShowRunOutcome("the socket library cannot be started; the game is not started");
        return 1;
    }

    // One launcher at a time in a directory. The hand-over's new updater waits for the old
    // one to let go; any other second launcher waits for the first to finish and leaves
    // the game to it. A lock that cannot be had at all (a read-only folder) means no
    // update could be written here: the game starts at once.
    const bool replacing = commandLine != nullptr && EqualsIgnoringCase(commandLine, "new");
    const bool handedOver = TakeHandOverMark();
    DIRECTORY_LOCK::RESULT lock = g_directoryLock.TryTake();
    if (lock == DIRECTORY_LOCK::HELD) {
        g_trace->Log("launcher: another launcher is at work in this directory; waiting for it\n");
        lock = g_directoryLock.WaitAndTake(DIRECTORY_LOCK::kWaitMs, g_launcherOps.sleepMs);
        // Still held: that launcher starts the game. Had after the wait (what held it may
        // not have been a launcher at all: a backup tool), this is a normal start.
        if (lock == DIRECTORY_LOCK::HELD) {
            g_directoryLock.Release();
            g_launcherOps.stopSockets();
            g_runOutcome.Set(RUN_OUTCOME::LEFT_TO_OTHER);
            ShowRunOutcome(g_runOutcome.Ending().c_str());
            return 0;
        }
        g_trace->Log("launcher: the directory is free now; going on\n");
    }
    if (lock == DIRECTORY_LOCK::UNAVAILABLE) {
        RX_ERROR("launcher: %s cannot be had (system error %u); no update, starting the game",
                 DIRECTORY_LOCK::kFileName, static_cast<unsigned>(g_directoryLock.Error()));
        g_runOutcome.Set(RUN_OUTCOME::NOTHING, std::string("no update: ") + DIRECTORY_LOCK::kFileName +
                                                   " cannot be had (system error " +
                                                   std::to_string(g_directoryLock.Error()) + ")");
        g_launcherOps.stopSockets();
        return StartInstead(kGame);
    }

    if (commandLine == nullptr || commandLine[0] == '\0') {
        DeleteFileA(UPDATER_FILE_NAME);
    } else if (replacing) {
        return ReplaceUpdater();
    }

#ifdef _WIN32
    InitCommonControls();
#endif
    g_hInstance = instance;

    if (!FinishInterruptedUpdate()) {
        g_launcherOps.stopSockets();
        StartInstead(kGame);
        return 0;
    }
    QueryServerList();
    if (!g_serverListProblem.empty())
        g_runOutcome.ListProblem(g_serverListProblem);
    ReadLocalVersion();
    // The package request names it, so that the server sends the package made for it.
    g_downloader.installed_version = g_localVersion;

    // Built with the studio's key, the launcher takes only the release its signed manifest
    // names, never one below the installed version, and only files of exactly its sizes
    // and hashes. A manifest that cannot be trusted, or a server that answers otherwise,
    // counts as no version answer.
    RELEASE_MANIFEST manifest;
    const bool signedOnly = HasReleaseKey();
    const bool trusted = !signedOnly || TakeReleaseManifest(&manifest);
    g_downloader.ExpectRelease(signedOnly ? &manifest : nullptr);

    // No version answer from any server counts as no connection: nothing is downloaded,
    // the game starts.
    bool applied = false;
    bool refused = false;
    const int server = trusted ? ReachUpdateServer(signedOnly ? &manifest : nullptr, &refused) : -1;
    // No update server answered, but the signed release is on the mirrors: its versions are
    // the manifest's, its files come from there alone.
    const bool mirrorsOnly = server < 0 && trusted && signedOnly && !refused && !manifest.mirrors.empty() &&
                             manifest.gameVersion > g_localVersion;
    if (mirrorsOnly) {
        g_trace->Log("launcher: no update server answered; release %u comes from the mirrors\n",
                     manifest.gameVersion);
        g_downloader.game_version = manifest.gameVersion;
        g_downloader.updater_version = manifest.updaterVersion;
    }
    if (server >= 0 || mirrorsOnly) {
        const bool offer = IsUpdaterOffer(g_downloader.updater_version, OwnUpdaterVersion());
        if (offer && handedOver)
            g_trace->Log("launcher: updater %u is still offered, above this one's %u, right after the hand-over to "
                         "it: the release announces another updater than the one it serves; no second hand-over, "
                         "going on with the game\n",
                         g_downloader.updater_version, OwnUpdaterVersion());
        if (offer && !handedOver) {
            g_updateMode = UPDATE_MODE_UPDATER;
            DownloadInWindow(FILE_KIND_UPDATER, server, signedOnly ? &manifest : nullptr);
            g_downloader.Close();
            NoteDownloadOutcome(UPDATER_FILE_NAME);
            // Only an updater that has just arrived whole is started; otherwise, or when it
            // cannot be started, the game is.
            if (!g_cancelled && !g_downloader.IsError() && g_updateSucceeded) {
                g_launcherOps.stopSockets();
                g_directoryLock.Release();
                g_runOutcome.SetVersion(RUN_OUTCOME::UPDATER_ARRIVED, g_downloader.updater_version);
                ShowRunOutcome(g_runOutcome.Starting(UPDATER_FILE_NAME).c_str());
                if (g_launcherOps.shellStart(UPDATER_FILE_NAME, "new"))
                    return 0;
                RX_ERROR("%s cannot be started; starting the game", UPDATER_FILE_NAME);
                g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string(UPDATER_FILE_NAME) + " cannot be started");
                return StartInstead(kGame);
            }
        } else if (IsGameUpdate(g_downloader.game_version, g_localVersion, signedOnly)) {
            // A part of an updater no longer offered is of no use any more.
            RemoveKeptPart(UPDATER_FILE_NAME);
            DownloadInWindow(FILE_KIND_PATCH, server, signedOnly ? &manifest : nullptr);
            if (!g_cancelled && g_updateBaseMismatch)
                AskAgainWithoutDeltas(signedOnly ? &manifest : nullptr);
            NoteDownloadOutcome(PATCH_FILE_NAME);
            if (!g_cancelled && !g_downloader.IsError() && g_updateSucceeded) {
                g_localVersion = g_downloader.game_version;
                applied = true;
            }
        } else {
            g_runOutcome.SetVersion(RUN_OUTCOME::UP_TO_DATE, g_localVersion);
            // Up to date: parts kept from an earlier run are of no use any more.
            RemoveKeptPart(UPDATER_FILE_NAME);
            RemoveKeptPart(PATCH_FILE_NAME);
        }
    }

    // The new files are in place: the version is recorded, then the package and the
    // staging area go (a crash in between is finished by the next start).
    if (WriteLocalVersion() && applied) {
        g_runOutcome.SetVersion(RUN_OUTCOME::UPDATED, g_localVersion);
        PATCH_APPLIER("").Finish(PATCH_FILE_NAME);
    } else if (applied) {
        g_runOutcome.Set(RUN_OUTCOME::FAILED, std::string("recording version ") + std::to_string(g_localVersion) +
                                                  " in version.txt: " + LastErrorText());
    }
    g_downloader.Close();
    g_launcherOps.stopSockets();
    return StartInstead(kGame);
}
