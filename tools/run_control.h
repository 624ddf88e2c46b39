// What the tools share about running: exit codes, and a stop flag that
// Ctrl-C and SIGTERM set so the tool can close and free everything itself.
#ifndef TWINCAM_TOOLS_RUN_CONTROL_H
#define TWINCAM_TOOLS_RUN_CONTROL_H

#include <atomic>
#include <csignal>

namespace twincam::tools {

constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130;

inline std::atomic<bool> g_stop{false};

extern "C" inline void OnStopSignal(int) { g_stop.store(true); }

inline void InstallStopHandlers() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_RUN_CONTROL_H
