// Which updater versions are offers: a server offers a new updater from version 1024 on,
// and a launcher takes only one newer than itself, so that a server that keeps offering
// the same updater does not make every start download and hand over again.
#pragma once

#include <cstdint>

// This launcher's own updater version, built in (VELGRIM_UPDATER_VERSION): each launcher
// program carries its own.
uint32_t OwnUpdaterVersion();

// True when a server's updater version is an offer a launcher of version `own` takes.
bool IsUpdaterOffer(uint32_t offered, uint32_t own);
