// What a crash of Updater.exe leaves behind: a small minidump of the last crash in the
// program's folder, logs/updater-crash.dmp, for the studio to read with the .debug file;
// then the game is started, as after any other failure. The console launcher leaves a
// crash to the system.
#pragma once

// Installs the handlers for an unhandled exception or fault and for the C++ terminate
// path. Call once, first thing in the entry point.
void InstallCrashDump();
