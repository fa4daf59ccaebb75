// The hand-over's mark: the updater started with "new" puts itself in place and starts
// Updater.exe in place of itself (the same run). The mark, an environment variable that
// start carries, tells that Updater.exe it was handed over to, so that it never hands
// over again in that run, whatever the server offers: an offer above the new updater's
// own version (a release that announces another updater than the one it serves) would
// otherwise download and hand over at every start, for ever.
#pragma once

// Sets the mark for the program started next in place of this one.
void MarkHandOver();
// True when this run was handed over to; the mark is taken away, so that nothing the
// launcher starts (the game) inherits it.
bool TakeHandOverMark();
