// What the programs share about running: exit codes, and a stop flag that
// Ctrl-C and SIGTERM set so the program can close and free everything itself.
#ifndef TWINCAM_APPS_RUN_CONTROL_H
#define TWINCAM_APPS_RUN_CONTROL_H

#include <atomic>
#include <csignal>

namespace twincam::common {

constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130;

inline std::atomic<bool> g_stop{false};

extern "C" inline void OnStopSignal(int) { g_stop.store(true); }

inline void InstallStopHandlers() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

}  // namespace twincam::common

#endif  // TWINCAM_APPS_RUN_CONTROL_H
