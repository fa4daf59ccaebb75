// The launcher's entry routine: server choice, version check, update, game start.
#pragma once

#include <cstddef>

#include "platform/module_instance.h"

// The operating-system steps of the hand-over, replaceable so tests can watch them.
struct LAUNCHER_OPS {
    int (*startSockets)();                                    // 0 on success
    void (*stopSockets)();
    int (*startByReplacement)(const char* program);           // returns only on failure
    bool (*shellStart)(const char* program, const char* parameters);
    void (*sleepMs)(unsigned int ms);
};

// The real steps.
extern LAUNCHER_OPS g_launcherOps;

// How long the launcher waits for the server's version answer.
constexpr unsigned int kVersionAnswerTimeoutMs = 10000;
// Servers of the list tried before the window opens, the time all those tries may take,
// and how long one step of them waits for the network.
constexpr size_t kServersTried = 3;
constexpr unsigned int kServerPhaseMs = 20000;
constexpr unsigned int kServerPhaseStepMs = 50;

// Runs once per process; commandLine is the text after the program name. Ends with the
// run's closing line (ShowRunOutcome). Returns 0 when the game (or the new updater, or
// another launcher) takes over, 1 when the game could not be started.
int LauncherMain(HINSTANCE instance, const char* commandLine);
