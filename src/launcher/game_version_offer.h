// Which game versions a launcher updates to. A launcher without the studio's key follows
// the server: any other version is an update. A launcher with the key never goes back: a
// replayed manifest of an older release, still valid and genuinely signed, plus a server
// that serves it must not roll every player back. A studio rolls back by shipping the old
// files as a new, higher version.
#pragma once

#include <cstdint>

// True when the server's game version `offered` is an update of `installed`. With
// signedOnly a lower version is refused, with a trace line; the game then starts as it is.
bool IsGameUpdate(uint32_t offered, uint32_t installed, bool signedOnly);
