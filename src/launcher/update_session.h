// What the update window does, whichever front end shows it: the window and the console
// drive the same steps on their 15 ms tick, and tell the launcher the outcome through
// these globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/mirror_fetch.h"
#include "launcher/server_list.h"
#include "pack/pack_unpacker.h"

// The file being downloaded: 0 the patch package, 1 the new updater.
constexpr int UPDATE_MODE_PATCH = 0;
constexpr int UPDATE_MODE_UPDATER = 1;

extern int g_updateMode;
// The user chose Cancel.
extern bool g_cancelled;
// The file arrived whole and, for a patch, was unpacked without a failure. Only then may
// the launcher record the new version or start the new updater.
extern bool g_updateSucceeded;
// Why a patch that arrived could not be applied (empty when it was, or did not arrive).
extern std::string g_updateProblem;
// The patch could not be applied because an installed file is not the base of one of its
// deltas (a modified file, a mod): the package without deltas is asked for instead.
extern bool g_updateBaseMismatch;

// Opens the update window (or its console counterpart) and returns when it has ended.
// Each front end provides it.
void RunUpdateDialog();

// The release could not be verified (reason: why), so the game starts without an update.
// Each front end provides it; the trace log has the reason already.
void ShowReleaseRefused(const char* reason);

// What a broken transfer may reconnect to: the run's servers (current: the one that
// answered) and the kind and release being downloaded. Without it a broken transfer ends.
void UpdatePrepareReconnects(const std::vector<SERVER_ENDPOINT>& servers, size_t current, int kind,
                             uint32_t gameVersion, uint32_t updaterVersion);

// Before the window, after UpdatePrepareReconnects: the file comes from the signed
// manifest's mirrors first, on a worker thread. Should every mirror fail, the update
// servers are asked as without mirrors (serverFallback: a server answered, its connection
// closed meanwhile and dialled again then); without one the download has failed.
void UpdatePrepareMirrors(const MIRROR_JOB& job, bool serverFallback);

// The authority mirrors are checked with instead of the system's roots (null: the
// system's). Null in the product; a test launcher sets it.
extern const char* g_mirrorCaFile;

// One tick: looks at the mirrors' worker, or pumps the downloader once, or a reconnect
// after a broken transfer. True when
// the transfer has ended: complete, or failed with no reconnect left to mend it; the
// caller then stops its tick and calls UpdateFinish.
bool UpdateTickPump();

// Reconnects begun so far this run, and the line that tells of the last (for a front end
// that reports each one).
int UpdateReconnects();
const char* UpdateReconnectNotice();

// The bar's position for received of total bytes (sizes up to 2^64); -1 while the size is
// not known (total 0), which leaves the bar where it is.
int UpdateProgressPercent(uint64_t received, uint64_t total);
// The same for the downloader's current transfer.
int UpdateTransferPercent();

// After the transfer ended: disconnects, and for a patch that arrived whole unpacks it
// into the current directory with progress through the callback. Returns true when the
// window may close, false when it shows the error notice.
bool UpdateFinish(UNPACK_CALLBACK progress);

// The Cancel command: stops the transfer and remembers that the user gave up.
void UpdateCancel();

// A failure inside the front end: the transfer is dropped and counts as failed; the front
// end then shows its error notice and the launcher goes on to the game.
void UpdateAbandon(const char* what);
